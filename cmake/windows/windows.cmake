# Project settings of the Windows cross-builds (included by the top-level
# CMakeLists.txt when WIN32).

if(NOT MINGW)
  message(FATAL_ERROR "The Windows builds are made with mingw-w64 (see docs/windows.md)")
endif()

# GoogleTest is built from the sources Debian ships (see FindGTest.cmake).
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

# Test programs run through Wine: the 32-bit ones with the 32-bit loader,
# which the wrapper asks for (without it the 32-bit build lists no tests).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh --32-bit)
endif()
# Tests are listed when ctest runs, not while building: a build needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# qvx_windows_exports(<dll target> <object library>)
#
# Makes <dll target> export exactly include/quorvex.def: a build step reads
# the symbols of the object library's objects and writes the linker's
# module-definition file, and the import library is made anew after the link
# so that it keeps the decorated names (export-def.cmake explains both). In
# 32-bit builds an import library for Microsoft's linker is made as well
# (<name>.lib, named by the target's property QVX_MSVC_IMPORT_LIBRARY).
function(qvx_windows_exports target objects)
  set(def ${PROJECT_SOURCE_DIR}/include/quorvex.def)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_objects.txt)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_exports.def)
  set(out_import ${CMAKE_CURRENT_BINARY_DIR}/${target}_imports.def)
  file(GENERATE OUTPUT ${list_file} CONTENT "$<JOIN:$<TARGET_OBJECTS:${objects}>,\n>\n")
  add_custom_command(
    OUTPUT ${out} ${out_import}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P}
            -DDEF=${def} -DOBJECTS_FILE=${list_file} -DOUT=${out} -DOUT_IMPORT=${out_import}
            -P ${PROJECT_SOURCE_DIR}/cmake/windows/export-def.cmake
    DEPENDS ${def} ${PROJECT_SOURCE_DIR}/cmake/windows/export-def.cmake ${list_file}
            $<TARGET_OBJECTS:${objects}>
    COMMENT "Writing the export list of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --dllname $<TARGET_FILE_NAME:${target}> --def ${out_import}
            --output-lib $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
  # 32-bit: the import library for Microsoft's linker too, when lld-link is
  # at hand (msvc-import-lib.cmake).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    find_program(QVX_LLD_LINK NAMES lld-link lld-link-14)
    if(QVX_LLD_LINK)
      get_target_property(name ${target} OUTPUT_NAME)
      set_property(TARGET ${target} PROPERTY QVX_MSVC_IMPORT_LIBRARY
        ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${name}.lib)
      add_custom_command(
        TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DCC=${CMAKE_C_COMPILER} -DLLD_LINK=${QVX_LLD_LINK} -DDEF=${def}
                -DIMPORTS=${out_import} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${target}_msvc
                -DOUT=${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${name}.lib
                -P ${PROJECT_SOURCE_DIR}/cmake/windows/msvc-import-lib.cmake
        VERBATIM)
    else()
      message(WARNING "lld-link not found (Debian package lld): no import library for MSVC")
    endif()
  endif()
endfunction()

# qvx_windows_decorated_import_library(<dll target>)
#
# For a 32-bit DLL linked with --kill-at (plain export names for
# __stdcall functions, as GetProcAddress expects them): replaces the import
# library the linker wrote by one that keeps the decorated names, so that
# programs calling the functions directly still link (import-lib.cmake).
# 64-bit names carry no decoration; nothing to do there.
function(qvx_windows_decorated_import_library target)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
            -DDLL=$<TARGET_FILE:${target}> -DIMPLIB=$<TARGET_LINKER_FILE:${target}>
            -P ${PROJECT_SOURCE_DIR}/cmake/windows/import-lib.cmake
    VERBATIM)
endfunction()
