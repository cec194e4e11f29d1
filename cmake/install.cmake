# What `cmake --install` puts where (GNUInstallDirs layout), the CMake package
# (find_package(nadixq) gives nadixq::nadixq), the pkg-config file, and the
# packages CPack makes of it: a Debian package on Linux, a zip on Windows.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(NADIXQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nadixq)

# The library: libnadixq.so.0.2.0 with its SONAME link and the development
# link on Linux; nadixq.dll in bin and its import libraries in lib on Windows.
install(TARGETS nadixq EXPORT nadixqTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/interface/nadixq.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nadixq)
if(NADIXQ_HAS_SIMULATOR)
  install(FILES ${PROJECT_SOURCE_DIR}/src/sim/nadixq_sim.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nadixq)
endif()
if(WIN32 AND NADIXQ_SIM)
  # Says in the install tree what this DLL is.
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/SIMULATOR.txt DESTINATION .)
elseif(WIN32)
  # The Windows host developer's guide at the top of the tree (and of the
  # zip), and the C host it describes.
  install(FILES ${PROJECT_SOURCE_DIR}/README-Windows.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/windows-c-host/host.c DESTINATION examples)
endif()
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT MSVC)
  # The exports as hosts' import libraries name them (not the DLL's own
  # module-definition file, whose symbols are the library's).
  install(FILES ${NADIXQ_HOST_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME nadixq.def)
  if(NADIXQ_MSVC_IMPORT_LIBRARY)
    install(FILES ${NADIXQ_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endif()

foreach(tool nadixq-acquire nadixq-dbgview)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The licence text goes where each system's users look for it: Debian's
# copyright file, LICENSE elsewhere.
if(WIN32)
  set(NADIXQ_LICENSE_NAME LICENSE)
else()
  set(NADIXQ_LICENSE_NAME copyright)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME ${NADIXQ_LICENSE_NAME})

# The Python package, where Debian's python3 finds it when the prefix is
# /usr; it loads the installed libnadixq.so.0 through the system loader.
if(NOT WIN32)
  set(NADIXQ_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
      "Where the Python package goes, relative to the prefix")
  # The web view's npm lockfile served the build only: its page and the
  # plotting library fetched with it are in web/static.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/nadixq DESTINATION ${NADIXQ_PYTHON_INSTALL_DIR}
          PATTERN __pycache__ EXCLUDE PATTERN npm EXCLUDE)
endif()

# CMake package.
install(EXPORT nadixqTargets NAMESPACE nadixq:: DESTINATION ${NADIXQ_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/nadixqConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/nadixqConfig.cmake
                              INSTALL_DESTINATION ${NADIXQ_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nadixqConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nadixqConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/nadixqConfigVersion.cmake
        DESTINATION ${NADIXQ_CMAKE_DIR})

# pkg-config, relocatable: the prefix is found from the file's own place, so
# the same file serves /usr, a scratch prefix and an unpacked package.
string(REGEX REPLACE "[^/]+" ".." NADIXQ_PC_TO_PREFIX "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
configure_file(${PROJECT_SOURCE_DIR}/cmake/nadixq.pc.in ${CMAKE_CURRENT_BINARY_DIR}/nadixq.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nadixq.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# ---------------------------------------------------------------- packages --
set(CPACK_PACKAGE_NAME nadixq)
set(CPACK_PACKAGE_VENDOR "The nadixq developers")
set(CPACK_PACKAGE_CONTACT "The nadixq developers <nadixq@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data acquisition for an FTIR spectrometer")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "nadixq drives one FTIR spectrometer board: it co-adds interferograms on a\n"
  "polling worker thread, hands each file's averaged interferogram to the host,\n"
  "streams runs into SPC files and processes interferograms. This package has\n"
  "the shared library with its simulated instrument, the C header, pkg-config\n"
  "and CMake files, the command-line tools and the Python binding.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME nadixq-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME nadixq-${PROJECT_VERSION}-win64)
  endif()
  # Everything in one folder named like the zip, so that unpacking it
  # beside other things makes one folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The simulator flavour of the DLL, built in a folder of its own, goes
  # into simulator/ of the same zip.
  set(NADIXQ_PACKAGE_SIMULATOR_BUILD "" CACHE PATH
      "Build folder of the simulator flavour to package in simulator/")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};nadixq;ALL;/")
  if(NADIXQ_PACKAGE_SIMULATOR_BUILD)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${NADIXQ_PACKAGE_SIMULATOR_BUILD};nadixq;ALL;/simulator")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  # ldconfig runs through dpkg's trigger; a native package's changelog is
  # changelog.gz beside the copyright file, in Debian's format, compressed
  # without a time stamp (cmake/debian-changelog.in: one entry a version).
  # The symbols file is the ABI list the tests hold the library to.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  configure_file(${PROJECT_SOURCE_DIR}/abi/libnadixq.symbols ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols
                 COPYONLY)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers
                                         ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols)
  find_program(NADIXQ_GZIP gzip)
  if(NADIXQ_GZIP)
    set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
    add_custom_command(OUTPUT ${changelog_gz}
      COMMAND ${NADIXQ_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.in > ${changelog_gz}
      DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.in VERBATIM)
    add_custom_target(nadixq_changelog ALL DEPENDS ${changelog_gz})
    install(FILES ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib")
endif()
include(CPack)
