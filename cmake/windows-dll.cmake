# The Windows DLL: its name, its export table and its import libraries.
#
# The 32-bit DLL's export table is exactly the module-definition file: the
# undecorated spectrometer_ names and the C++ names of the processing
# functions as 32-bit Windows compilers decorate them. The 64-bit DLL exports
# what the header marks for export.
set_target_properties(nadixq PROPERTIES PREFIX "")
set(NADIXQ_DEF ${PROJECT_SOURCE_DIR}/src/interface/nadixq.def)
if(NADIXQ_SIM)
  # The simulator flavour exports the simulator's control functions too.
  set(NADIXQ_SIM_DEF ${PROJECT_SOURCE_DIR}/src/sim/nadixq_sim.def)
  file(READ ${NADIXQ_DEF} def_text)
  file(STRINGS ${NADIXQ_SIM_DEF} sim_exports REGEX "^[ \t]+[^ \t;]+ = [^ \t]+$")
  foreach(line IN LISTS sim_exports)
    string(APPEND def_text "${line}\n")
  endforeach()
  # Written only when it changed, so that a new configure does not relink.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nadixq_with_simulator.def.new "${def_text}")
  set(NADIXQ_DEF ${CMAKE_CURRENT_BINARY_DIR}/nadixq_with_simulator.def)
  configure_file(${NADIXQ_DEF}.new ${NADIXQ_DEF} COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NADIXQ_SIM_DEF})
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(nadixq_objects PRIVATE NADIXQ_EXPORTS_BY_DEF)

  # Each export line of the .def reads "exported-name = compiler-symbol",
  # the symbol carrying the @N of a __stdcall function. From them:
  #  - msvc_def: the exported names, for MSVC's linker, which finds a
  #    __stdcall function by its plain name and writes the import library;
  #  - gnu_import_def: for hosts built with GCC, which ask for the decorated
  #    symbols (_spectrometer_getGain@0, the GCC names of the processing
  #    functions); dlltool -k drops the @N from the name each imports, and
  #    "==" names the export where it differs;
  #  - msvc_import_def: the same for hosts built with MSVC, whose C++ names of
  #    the processing functions are their export names.
  file(STRINGS ${NADIXQ_DEF} def_exports REGEX "^[ \t]+[^ \t;]+ = [^ \t]+$")
  set(def_head "LIBRARY nadixq.dll\nEXPORTS\n")
  set(msvc_def "${def_head}")
  set(gnu_import_def "${def_head}")
  # The one hosts get as lib/nadixq.def, hence the words at its head.
  string(CONCAT msvc_import_def
    "; nadixq.dll, 32-bit: its exports as a host compiled with nadixq.h asks for\n"
    "; them: each __stdcall function with its @N (the bytes of its arguments), the\n"
    "; processing functions under their 32-bit Microsoft C++ names.\n"
    ";\n"
    "; Link with the import libraries beside this file: nadixq.lib (Visual Studio,\n"
    "; clang-cl, lld-link) or libnadixq.dll.a (MinGW). Microsoft's lib.exe /DEF\n"
    "; cannot make a working import library for this DLL: the DLL exports the\n"
    "; spectrometer_ names without the @N, and lib.exe can only import the name\n"
    "; as written, so a host then fails to link (__imp__spectrometer_open@4) or to\n"
    "; load. A tool that drops the @N from each import name can; nadixq.lib is\n"
    "; made from this file so:\n"
    ";     llvm-dlltool -m i386 -k -d nadixq.def -l nadixq.lib\n"
    "${def_head}")
  foreach(line IN LISTS def_exports)
    string(REGEX REPLACE "^[ \t]+([^ \t]+) = ([^ \t]+)$" "\\1;\\2" pair "${line}")
    list(GET pair 0 exported)
    list(GET pair 1 symbol)
    string(APPEND msvc_def "    ${exported}\n")
    string(REGEX REPLACE "@[0-9]+$" "" undecorated "${symbol}")
    if(undecorated STREQUAL exported)
      string(APPEND gnu_import_def "    ${symbol}\n")
      string(APPEND msvc_import_def "    ${symbol}\n")
    else()
      string(APPEND gnu_import_def "    ${symbol} == ${exported}\n")
      string(APPEND msvc_import_def "    ${exported}\n")
    endif()
  endforeach()

  if(MSVC)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nadixq_msvc.def "${msvc_def}")
    target_sources(nadixq PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/nadixq_msvc.def)
  else()
    target_sources(nadixq PRIVATE ${NADIXQ_DEF})
    set_target_properties(nadixq PROPERTIES LINK_DEPENDS ${NADIXQ_DEF})

    # GNU ld's own import library would know the exported names only.
    set(gnu_import_def_file ${CMAKE_CURRENT_BINARY_DIR}/nadixq_import.def)
    file(WRITE ${gnu_import_def_file} "${gnu_import_def}")
    add_custom_command(TARGET nadixq POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${gnu_import_def_file} -D nadixq.dll
              -l $<TARGET_LINKER_FILE:nadixq>
      COMMENT "Import library for GCC hosts"
      VERBATIM)

    # nadixq.lib for MSVC hosts, in MSVC's format, where llvm-dlltool is
    # installed. GNU ld does not read the aliases that the GCC names would
    # need in that format, so each compiler family keeps its own file.
    set(msvc_import_def_file ${CMAKE_CURRENT_BINARY_DIR}/nadixq_msvc_import.def)
    file(WRITE ${msvc_import_def_file} "${msvc_import_def}")
    set(NADIXQ_HOST_DEF ${msvc_import_def_file})
    find_program(NADIXQ_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15)
    if(NADIXQ_LLVM_DLLTOOL)
      set(NADIXQ_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/nadixq.lib)
      add_custom_command(TARGET nadixq POST_BUILD
        COMMAND ${NADIXQ_LLVM_DLLTOOL} -m i386 -k -d ${msvc_import_def_file}
                -l ${NADIXQ_MSVC_IMPORT_LIBRARY}
        COMMENT "Import library for MSVC hosts"
        VERBATIM)
    endif()
  endif()
endif()

if(MINGW)
  # Carry libgcc, libstdc++ and winpthread inside, so that the DLL imports
  # system DLLs only.
  target_link_options(nadixq PRIVATE -static)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/version-resource.cmake)
nadixq_version_resource(nadixq "nadixq data-acquisition library of the FTIR spectrometer")
