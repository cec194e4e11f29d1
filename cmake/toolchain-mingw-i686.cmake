# Cross-compiles the shipped 32-bit DLL with Debian's MinGW-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NADIXQ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# No test programs are built for i686: the Wine here runs 64-bit programs only.
