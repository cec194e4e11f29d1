# Cross-compiles the shipped 32-bit DLL with Debian's MinGW-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NADIXQ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Double arithmetic in SSE2 registers, rounded to double at every step as on
# x86-64, instead of the x87 unit's 80-bit intermediates: the processing
# results, the dual boards' merge and the clock are then bit for bit those of
# the 64-bit builds. Every processor since about 2001 has SSE2, and every
# supported Windows version requires it. Hosts call in with a stack aligned to
# 4 bytes only; -mstackrealign aligns it where SSE2 code needs 16.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

# Test programs run under 32-bit Wine, in a prefix of their own inside the
# build folder.
set(NADIXQ_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
