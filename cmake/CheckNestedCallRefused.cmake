# Plays one case of sapp_reentering_host (module/ReenteringHost_test.cc)
# under valgrind and requires the module to have stopped the host's nested
# call: the process ends by abort, having written the module's line that
# names both calls, and valgrind saw no read or write of freed or invalid
# memory before it.
#
#   cmake -DVALGRIND=<valgrind> -DHOST=<sapp_reentering_host> -DCASE=<case>
#         -DINNER=<entry point called> -DOUTER=<entry point running>
#         -P CheckNestedCallRefused.cmake
foreach(var VALGRIND HOST CASE INNER OUTER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckNestedCallRefused: ${var} not given")
  endif()
endforeach()

# No leak check: a process that aborts holds all it allocated.
execute_process(COMMAND "${VALGRIND}" --tool=memcheck --leak-check=no "${HOST}" "${CASE}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")

set(problems)
set(named "sapp: ${INNER} was called while ${OUTER} had not returned")
string(FIND "${output}" "${named}" at)
if(at EQUAL -1)
  list(APPEND problems "the module did not name the nested call (\"${named}\")")
endif()
if(NOT output MATCHES "ERROR SUMMARY: 0 errors")
  list(APPEND problems "valgrind found errors, or gave no summary")
endif()
# A normal exit is a number; a process ended by a signal is described.
if(result MATCHES "^[0-9]+$")
  list(APPEND problems "the process exited with status ${result} instead of aborting")
endif()

if(problems)
  list(JOIN problems "; " problems)
  message(FATAL_ERROR "${CASE}: ${problems}")
endif()
message(STATUS "${CASE}: ${INNER} from inside ${OUTER} stopped the process, valgrind clean (${result})")
