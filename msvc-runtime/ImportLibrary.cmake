# Writes the import library of a Wine DLL from the DLL's own export table:
#
#   cmake -DDLL=<x.dll> -DOUT=<x.lib> -DREADOBJ=<llvm-readobj> -DDLLTOOL=<llvm-dlltool>
#         -P ImportLibrary.cmake
#
# Wine's own import libraries do not serve: libmsvcp140.a, for one, lists
# 113 of msvcp140.dll's 1,487 exports and none of the C++ names.
foreach(var DLL OUT READOBJ DLLTOOL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ImportLibrary: ${var} not given")
  endif()
endforeach()

execute_process(COMMAND "${READOBJ}" --coff-exports "${DLL}"
                OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ImportLibrary: ${READOBJ} failed on ${DLL}: ${error}")
endif()
string(REGEX MATCHALL "\n *Name: [^\n]+" lines "${dump}")
get_filename_component(dll_name "${DLL}" NAME)
set(def "LIBRARY ${dll_name}\nEXPORTS\n")
set(count 0)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\n *Name: " "" name "${line}")
  string(APPEND def "    ${name}\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "ImportLibrary: ${DLL} exports nothing")
endif()
file(WRITE "${OUT}.def" "${def}")
execute_process(COMMAND "${DLLTOOL}" -m i386:x86-64 -d "${OUT}.def" -l "${OUT}" -D "${dll_name}"
                RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ImportLibrary: ${DLLTOOL} failed for ${DLL}: ${error}")
endif()
