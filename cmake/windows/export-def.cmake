# Writes the two module-definition files of QUORVEX.dll from the export
# names and ordinals of include/quorvex.def, each bound to the symbol the
# compiler made for it. Runs at build time, after the library's objects are
# compiled:
#
#   cmake -DNM=<nm> -DPOINTER_SIZE=<4|8> -DDEF=<quorvex.def>
#         -DOBJECTS_FILE=<file listing the objects> -DOUT=<link .def>
#         -DOUT_IMPORT=<import library .def> -P export-def.cmake
#
# On 32-bit Windows an __stdcall function OpenCard(int32_t) is the symbol
# OpenCard@4, and a decorated export name such as _ReSynchronize@0 is the
# stdcall symbol ReSynchronize@0 itself.
#
# The linker's file names each export and its symbol ("OpenCard =
# OpenCard@4 @2"); ld sorts the export names of that form correctly (with
# the "==" form it sorts by symbol, and the system's binary search by name
# then misses exports such as _ReSynchronize@0).
#
# The import library's file keeps the symbols as the programs that include
# quorvex.h refer to them ("OpenCard@4 @2 == OpenCard": the symbol
# OpenCard@4 imports the name OpenCard); dlltool makes the import library
# from it.
cmake_minimum_required(VERSION 3.22)

foreach(var NM POINTER_SIZE DEF OBJECTS_FILE OUT OUT_IMPORT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "export-def.cmake: ${var} is not set")
  endif()
endforeach()

file(STRINGS ${OBJECTS_FILE} objects)
execute_process(COMMAND ${NM} --defined-only --extern-only ${objects}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "export-def.cmake: ${NM} failed")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" text_lines "${nm_output}")
set(symbols "")
foreach(line IN LISTS text_lines)
  string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" symbol "${line}")
  list(APPEND symbols "${symbol}")
endforeach()

# Finds the code symbol of the export `name`; sets `internal` to the name the
# module-definition file uses for it (without the leading underscore that
# 32-bit symbols carry).
function(find_symbol name)
  set(internal "" PARENT_SCOPE)
  if(POINTER_SIZE EQUAL 4)
    if(name MATCHES "^_.*@[0-9]+$")
      set(wanted "^${name}$")
    else()
      set(wanted "^_${name}@[0-9]+$")
    endif()
  else()
    if(name MATCHES "^_(.*)@[0-9]+$")
      set(wanted "^${CMAKE_MATCH_1}$")
    else()
      set(wanted "^${name}$")
    endif()
  endif()
  foreach(symbol IN LISTS symbols)
    if(symbol MATCHES "${wanted}")
      if(POINTER_SIZE EQUAL 4)
        string(SUBSTRING "${symbol}" 1 -1 symbol)
      endif()
      set(internal "${symbol}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

file(STRINGS ${DEF} def_lines)
set(out "")
set(out_import "")
set(in_exports FALSE)
set(missing "")
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
    string(APPEND out "EXPORTS\n")
    string(APPEND out_import "EXPORTS\n")
  elseif(NOT in_exports)
    string(APPEND out "${line}\n")
    string(APPEND out_import "${line}\n")
  elseif(line MATCHES "^([A-Za-z_][A-Za-z0-9_@]*)[ \t]+@([0-9]+)$")
    set(name ${CMAKE_MATCH_1})
    set(ordinal ${CMAKE_MATCH_2})
    find_symbol(${name})
    if(internal STREQUAL "")
      list(APPEND missing ${name})
    elseif(internal STREQUAL name)
      string(APPEND out "    ${name} @${ordinal}\n")
      string(APPEND out_import "    ${name} @${ordinal}\n")
    else()
      string(APPEND out "    ${name} = ${internal} @${ordinal}\n")
      string(APPEND out_import "    ${internal} @${ordinal} == ${name}\n")
    endif()
  elseif(NOT line STREQUAL "" AND NOT line MATCHES "^;")
    message(FATAL_ERROR "export-def.cmake: cannot read the line '${line}' of ${DEF}")
  endif()
endforeach()
if(missing)
  list(JOIN missing ", " missing)
  if(POINTER_SIZE EQUAL 4)
    message(FATAL_ERROR "export-def.cmake: no __stdcall function for the exports ${missing}")
  endif()
  message(FATAL_ERROR "export-def.cmake: no function for the exports ${missing}")
endif()

file(WRITE ${OUT} "${out}")
file(WRITE ${OUT_IMPORT} "${out_import}")
