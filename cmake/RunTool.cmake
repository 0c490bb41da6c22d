# sapp_run_tool(OUT COMMAND...) runs a tool for a check script and puts its
# standard output in OUT; a failing tool fails the check with its message.
function(sapp_run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${rc}): ${err}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()
