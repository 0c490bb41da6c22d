# Keeps a block of a doc in step with what a sapp-host command prints: the
# lines between "<!-- BLOCK: begin -->" and "<!-- BLOCK: end -->" in DOC
# must be the output of `sapp-host ARGS`. With -DUPDATE=ON the block is
# rewritten instead.
#
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host -DDOC=docs/sapp-host-formats.md -DBLOCK=events
#         "-DARGS=events|--markdown" [-DUPDATE=ON] -P DocsBlock.cmake
string(REPLACE "|" ";" ARGS "${ARGS}")
execute_process(COMMAND "${SAPP_HOST}" ${ARGS} OUTPUT_VARIABLE printed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${SAPP_HOST} ${ARGS} failed: ${status}")
endif()
string(REPLACE "\r" "" printed "${printed}")

file(READ "${DOC}" text)
set(opening "<!-- ${BLOCK}: begin -->\n")
set(closing "<!-- ${BLOCK}: end -->")
string(FIND "${text}" "${opening}" begin)
string(FIND "${text}" "${closing}" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${DOC} has no block between ${opening} and ${closing}")
endif()
string(LENGTH "${opening}" length)
math(EXPR begin "${begin} + ${length}")
math(EXPR blockLength "${end} - ${begin}")
string(SUBSTRING "${text}" 0 ${begin} before)
string(SUBSTRING "${text}" ${begin} ${blockLength} current)
string(SUBSTRING "${text}" ${end} -1 after)

if(current STREQUAL printed)
  message(STATUS "${DOC}: the ${BLOCK} block is up to date")
elseif(UPDATE)
  file(WRITE "${DOC}" "${before}${printed}${after}")
  message(STATUS "${DOC}: the ${BLOCK} block is rewritten")
else()
  string(REPLACE ";" " " command "${ARGS}")
  message(FATAL_ERROR "${DOC}: the ${BLOCK} block is not what `sapp-host ${command}` prints; "
                      "run scripts/docs-diagram.sh and review the change. It prints:\n${printed}")
endif()
