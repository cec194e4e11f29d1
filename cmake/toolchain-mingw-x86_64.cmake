# Cross-compiles the library and its tests with Debian's MinGW-w64 (x86_64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NADIXQ_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under 64-bit Wine, in a prefix of their own inside the
# build folder.
set(NADIXQ_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
