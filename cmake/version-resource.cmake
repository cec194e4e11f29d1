# nadixq_version_resource(<target> <description>): gives a Windows module its
# VERSIONINFO resource: file and product version from the project, the
# product name, the description, and the file name the module is built as.
# The simulator flavour says so in every description, so that a DLL found on
# a machine tells which one it is without a debugger.
enable_language(RC)

function(nadixq_version_resource target description)
  if(NADIXQ_SIM)
    string(APPEND description " - SIMULATOR build with a simulated instrument, not for use with a board")
  endif()
  set(NADIXQ_RC_DESCRIPTION "${description}")
  string(REPLACE "." "," NADIXQ_RC_VERSION_COMMAS "${PROJECT_VERSION},0")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(NADIXQ_RC_FILE_TYPE VFT_APP)
    set(NADIXQ_RC_FILE_NAME "${target}.exe")
  else()
    set(NADIXQ_RC_FILE_TYPE VFT_DLL)
    set(NADIXQ_RC_FILE_NAME "${target}.dll")
  endif()
  set(NADIXQ_RC_INTERNAL_NAME "${target}")
  set(NADIXQ_RC_COMPANY "The nadixq developers")
  set(NADIXQ_RC_COPYRIGHT "Copyright (c) 2026 The nadixq developers, MIT License")
  set(rc_file ${CMAKE_BINARY_DIR}/version-resource/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
endfunction()
