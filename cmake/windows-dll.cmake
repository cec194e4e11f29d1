# The Windows DLL: its name, its export table and its import library.
#
# The 32-bit DLL's export table is exactly the module-definition file: the
# undecorated spectrometer_ names and the C++ names of the processing
# functions as 32-bit Windows compilers decorate them. The 64-bit DLL exports
# what the header marks for export.
set_target_properties(nadixq PROPERTIES PREFIX "")
set(NADIXQ_DEF ${PROJECT_SOURCE_DIR}/src/interface/nadixq.def)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(nadixq_objects PRIVATE NADIXQ_EXPORTS_BY_DEF)
  # Each export line of the .def: "exported-name = compiler-symbol".
  file(STRINGS ${NADIXQ_DEF} nadixq_def_exports REGEX "^[ \t]+[^ \t;]+ = [^ \t]+$")
  if(MSVC)
    # MSVC's own symbols already carry the exported names (it finds a
    # __stdcall function by its plain name), so its file is the left-hand
    # sides of the MinGW one, and its linker writes an import library that
    # hosts compiled with MSVC link against.
    set(msvc_def "LIBRARY nadixq.dll\nEXPORTS\n")
    foreach(line IN LISTS nadixq_def_exports)
      string(REGEX REPLACE "^[ \t]+([^ \t]+) = .*$" "    \\1" line "${line}")
      string(APPEND msvc_def "${line}\n")
    endforeach()
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nadixq_msvc.def "${msvc_def}")
    target_sources(nadixq PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/nadixq_msvc.def)
  else()
    target_sources(nadixq PRIVATE ${NADIXQ_DEF})
    set_target_properties(nadixq PROPERTIES LINK_DEPENDS ${NADIXQ_DEF})

    # A host compiled against nadixq.h calls the __stdcall functions by their
    # decorated symbols (_spectrometer_getGain@0, and the compiler's C++ name
    # of each processing function), while the import library GNU ld writes
    # from the .def knows the exported names only. dlltool writes the import
    # library from the compiler's symbols instead: -k drops the @N from the
    # name each one imports, and "==" names the export where it differs.
    set(import_def "LIBRARY nadixq.dll\nEXPORTS\n")
    foreach(line IN LISTS nadixq_def_exports)
      string(REGEX REPLACE "^[ \t]+([^ \t]+) = ([^ \t]+)$" "\\1;\\2" pair "${line}")
      list(GET pair 0 exported)
      list(GET pair 1 symbol)
      string(REGEX REPLACE "@[0-9]+$" "" undecorated "${symbol}")
      if(undecorated STREQUAL exported)
        string(APPEND import_def "    ${symbol}\n")
      else()
        string(APPEND import_def "    ${symbol} == ${exported}\n")
      endif()
    endforeach()
    set(NADIXQ_IMPORT_DEF ${CMAKE_CURRENT_BINARY_DIR}/nadixq_import.def)
    file(WRITE ${NADIXQ_IMPORT_DEF} "${import_def}")
    add_custom_command(TARGET nadixq POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${NADIXQ_IMPORT_DEF} -D nadixq.dll
              -l $<TARGET_LINKER_FILE:nadixq>
      COMMENT "Import library from the decorated names"
      VERBATIM)
  endif()
endif()

if(MINGW)
  # Carry libgcc, libstdc++ and winpthread inside, so that the DLL imports
  # system DLLs only.
  target_link_options(nadixq PRIVATE -static)
endif()
