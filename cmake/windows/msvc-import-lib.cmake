# Writes the import library of the 32-bit QUORVEX.dll for Microsoft's linker
# (QUORVEX.lib). A program compiled by MSVC refers to the __stdcall function
# OpenCard as _OpenCard@4, while the DLL exports the plain name OpenCard (and
# _ReSynchronize@0 under that decorated name). lld-link, given quorvex.def and
# an object that defines every decorated symbol, writes the import library
# exactly as Microsoft's linker does when it links such a DLL: _OpenCard@4
# imports the name OpenCard, _ReSynchronize@0 the name _ReSynchronize@0.
# Runs after the DLL is linked:
#
#   cmake -DCC=<compiler> -DLLD_LINK=<lld-link> -DDEF=<quorvex.def>
#         -DIMPORTS=<import library .def of export-def.cmake> -DWORK=<folder>
#         -DOUT=<QUORVEX.lib> -P msvc-import-lib.cmake
cmake_minimum_required(VERSION 3.22)

foreach(var CC LLD_LINK DEF IMPORTS WORK OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "msvc-import-lib.cmake: ${var} is not set")
  endif()
endforeach()

# The import library .def names each function by its symbol without the
# leading underscore: "OpenCard@4 @2 == OpenCard".
file(STRINGS ${IMPORTS} lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*@[0-9]+[ \t]")
set(stub "\t.text\n")
foreach(line IN LISTS lines)
  string(REGEX MATCH "[A-Za-z_][A-Za-z0-9_]*@[0-9]+" symbol "${line}")
  string(APPEND stub "\t.globl \"_${symbol}\"\n\"_${symbol}\":\n\tret\n")
endforeach()
if(NOT lines)
  message(FATAL_ERROR "msvc-import-lib.cmake: no __stdcall symbols in ${IMPORTS}")
endif()

file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/stub.s "${stub}")
execute_process(COMMAND ${CC} -c ${WORK}/stub.s -o ${WORK}/stub.obj RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msvc-import-lib.cmake: ${CC} could not assemble the stub")
endif()
get_filename_component(dll_name ${OUT} NAME_WE)
execute_process(
  COMMAND ${LLD_LINK} /dll /noentry /nodefaultlib /safeseh:no /machine:x86 /def:${DEF}
          /out:${WORK}/${dll_name}.dll /implib:${OUT} ${WORK}/stub.obj
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msvc-import-lib.cmake: ${LLD_LINK} failed")
endif()
