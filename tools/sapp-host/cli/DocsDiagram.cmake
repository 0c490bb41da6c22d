# Keeps the diagrams of the built-in typical session in the docs in step
# with the module: the first ```mermaid block of each file in DOCS must be
# what `sapp-host diagram` draws. With -DUPDATE=ON the blocks are rewritten
# instead. DOCS is a list; `|` separates its entries as well as `;`.
#
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host "-DDOCS=README.md|docs/integration.md" [-DUPDATE=ON] -P DocsDiagram.cmake
string(REPLACE "|" ";" DOCS "${DOCS}")
execute_process(COMMAND "${SAPP_HOST}" diagram OUTPUT_VARIABLE diagram RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SAPP_HOST} diagram failed: ${status}")
endif()
string(REPLACE "\r" "" diagram "${diagram}")

set(opening "```mermaid\n")
set(stale "")
foreach(doc IN LISTS DOCS)
  file(READ "${doc}" text)
  string(FIND "${text}" "${opening}" begin)
  if(begin EQUAL -1)
    message(FATAL_ERROR "${doc} has no ```mermaid block")
  endif()
  string(LENGTH "${opening}" length)
  math(EXPR begin "${begin} + ${length}")
  string(SUBSTRING "${text}" 0 ${begin} before)
  string(SUBSTRING "${text}" ${begin} -1 rest)
  string(FIND "${rest}" "```" end)
  string(SUBSTRING "${rest}" 0 ${end} current)
  string(SUBSTRING "${rest}" ${end} -1 after)

  if(current STREQUAL diagram)
    message(STATUS "${doc}: the diagram is up to date")
  elseif(UPDATE)
    file(WRITE "${doc}" "${before}${diagram}${after}")
    message(STATUS "${doc}: the diagram is redrawn")
  else()
    list(APPEND stale "${doc}")
  endif()
endforeach()

if(stale)
  message(FATAL_ERROR "${stale}: the diagram of the typical session is not what `sapp-host diagram` draws; "
                      "run scripts/docs-diagram.sh and review the change. It draws:\n${diagram}")
endif()
