# Programs cross-built for Windows run on Linux under Wine, in a prefix of
# their own inside the build folder (created on first use, of the
# NADIXQ_WINEARCH the toolchain file sets), with Wine's own messages silenced
# and its offers to install Mono and Gecko switched off: `wine` (Debian's
# wine32) for a win32 prefix, `wine64` for a win64 one.
if(NADIXQ_WINEARCH STREQUAL "win32")
  set(nadixq_wine_names wine)
else()
  set(nadixq_wine_names wine64 wine)
endif()
find_program(NADIXQ_WINE NAMES ${nadixq_wine_names} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NADIXQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEARCH=${NADIXQ_WINEARCH} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${NADIXQ_WINE})
endif()
