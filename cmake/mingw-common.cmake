# What both MinGW-w64 toolchain files share; they set NADIXQ_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. The posix thread model of the compiler is used:
# the library and its tests rely on std::mutex and std::condition_variable,
# which the win32 model of GCC 12 lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${NADIXQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NADIXQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NADIXQ_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NADIXQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and the DLL carry the compiler's support libraries (libgcc,
# libstdc++, winpthread) inside, so that they need only system DLLs at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
