# Rewrites the import library of a 32-bit DLL linked with --kill-at so that
# it keeps the decorated names: the DLL exports ZQ7_AD_Start, a program that
# declares the function __stdcall refers to ZQ7_AD_Start@4, and only an
# import library that defines ZQ7_AD_Start@4 (importing ZQ7_AD_Start) links
# the two. Runs after the DLL is linked:
#
#   cmake -DOBJDUMP=<objdump> -DNM=<nm> -DDLLTOOL=<dlltool> -DDLL=<file.dll>
#         -DIMPLIB=<import library> -P import-lib.cmake
cmake_minimum_required(VERSION 3.22)

foreach(var OBJDUMP NM DLLTOOL DLL IMPLIB)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "import-lib.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "import-lib.cmake: ${OBJDUMP} -p ${DLL} failed")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${headers}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")

execute_process(COMMAND ${NM} --defined-only --extern-only ${DLL} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "import-lib.cmake: ${NM} ${DLL} failed (a stripped DLL has no symbols)")
endif()

get_filename_component(dll_name ${DLL} NAME)
set(def "LIBRARY ${dll_name}\nEXPORTS\n")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
  string(STRIP "${name}" name)
  if(symbols MATCHES " T _(${name}@[0-9]+)\n")
    string(APPEND def "    ${CMAKE_MATCH_1}\n")
  else()
    string(APPEND def "    ${name}\n")
  endif()
endforeach()
file(WRITE ${IMPLIB}.def "${def}")

execute_process(COMMAND ${DLLTOOL} --kill-at --dllname ${dll_name} --def ${IMPLIB}.def
                        --output-lib ${IMPLIB} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "import-lib.cmake: ${DLLTOOL} failed")
endif()
