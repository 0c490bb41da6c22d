# Keeps a block of the docs in step with what a sapp-host command prints:
# in each file of DOCS, the block must be the output of `sapp-host ARGS`.
# BLOCK names the block: "mermaid" is the file's first ```mermaid fence
# (the diagram of the built-in typical session), any other name the lines
# between "<!-- BLOCK: begin -->" and "<!-- BLOCK: end -->". With -DUPDATE=ON
# the blocks are rewritten instead. `|` separates the entries of DOCS and
# ARGS as well as `;`.
#
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host "-DDOCS=README.md|docs/integration.md" -DBLOCK=mermaid
#         -DARGS=diagram [-DUPDATE=ON] -P DocsBlock.cmake
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host -DDOCS=docs/sapp-host-formats.md -DBLOCK=events
#         "-DARGS=events|--markdown" [-DUPDATE=ON] -P DocsBlock.cmake
string(REPLACE "|" ";" DOCS "${DOCS}")
string(REPLACE "|" ";" ARGS "${ARGS}")
string(REPLACE ";" " " command "${ARGS}")
execute_process(COMMAND "${SAPP_HOST}" ${ARGS} OUTPUT_VARIABLE printed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SAPP_HOST} ${command} failed: ${status}")
endif()
string(REPLACE "\r" "" printed "${printed}")

if(BLOCK STREQUAL "mermaid")
  set(opening "```mermaid\n")
  set(closing "```")
else()
  set(opening "<!-- ${BLOCK}: begin -->\n")
  set(closing "<!-- ${BLOCK}: end -->")
endif()

set(stale "")
foreach(doc IN LISTS DOCS)
  file(READ "${doc}" text)
  string(FIND "${text}" "${opening}" begin)
  if(begin EQUAL -1)
    message(FATAL_ERROR "${doc} has no block that starts with ${opening}")
  endif()
  string(LENGTH "${opening}" length)
  math(EXPR begin "${begin} + ${length}")
  string(SUBSTRING "${text}" 0 ${begin} before)
  string(SUBSTRING "${text}" ${begin} -1 rest)
  string(FIND "${rest}" "${closing}" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "${doc}: the ${BLOCK} block has no end (${closing})")
  endif()
  string(SUBSTRING "${rest}" 0 ${end} current)
  string(SUBSTRING "${rest}" ${end} -1 after)

  if(current STREQUAL printed)
    message(STATUS "${doc}: the ${BLOCK} block is up to date")
  elseif(UPDATE)
    file(WRITE "${doc}" "${before}${printed}${after}")
    message(STATUS "${doc}: the ${BLOCK} block is rewritten")
  else()
    list(APPEND stale "${doc}")
  endif()
endforeach()

if(stale)
  message(FATAL_ERROR "${stale}: the ${BLOCK} block is not what `sapp-host ${command}` prints; "
                      "run scripts/docs-diagram.sh and review the change. It prints:\n${printed}")
endif()
