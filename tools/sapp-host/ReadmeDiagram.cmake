# Keeps the diagram in README.md in step with the module: the README's first
# ```mermaid block must be what `sapp-host diagram` draws for the built-in
# typical session. With -DUPDATE=ON the block is rewritten instead.
#
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host -DREADME=README.md [-DUPDATE=ON] -P ReadmeDiagram.cmake
execute_process(COMMAND "${SAPP_HOST}" diagram OUTPUT_VARIABLE diagram RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SAPP_HOST} diagram failed: ${status}")
endif()
string(REPLACE "\r" "" diagram "${diagram}")

set(opening "```mermaid\n")
file(READ "${README}" readme)
string(FIND "${readme}" "${opening}" begin)
if(begin EQUAL -1)
  message(FATAL_ERROR "${README} has no ```mermaid block")
endif()
string(LENGTH "${opening}" length)
math(EXPR begin "${begin} + ${length}")
string(SUBSTRING "${readme}" 0 ${begin} before)
string(SUBSTRING "${readme}" ${begin} -1 rest)
string(FIND "${rest}" "```" end)
string(SUBSTRING "${rest}" 0 ${end} current)
string(SUBSTRING "${rest}" ${end} -1 after)

if(current STREQUAL diagram)
  message(STATUS "${README}: the diagram is up to date")
elseif(UPDATE)
  file(WRITE "${README}" "${before}${diagram}${after}")
  message(STATUS "${README}: the diagram is redrawn")
else()
  message(FATAL_ERROR "${README}: the diagram of the typical session is not what `sapp-host diagram` draws; "
                      "run scripts/readme-diagram.sh and review the change. It draws:\n${diagram}")
endif()
