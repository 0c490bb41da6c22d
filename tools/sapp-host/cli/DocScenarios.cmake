# Checks a document against the scenario folder: every scenario file it
# names (scenarios/NAME.json) must exist and pass `sapp-host check`.
#
#   cmake -DSAPP_HOST=build/dev/bin/sapp-host -DDOC=docs/integration.md -DSCENARIOS=scenarios -P DocScenarios.cmake
file(READ "${DOC}" text)
string(REGEX MATCHALL "scenarios/[A-Za-z0-9_.-]+\\.json" named "${text}")
list(REMOVE_DUPLICATES named)
if(NOT named)
  message(FATAL_ERROR "${DOC} names no scenario file")
endif()

set(files "")
set(missing "")
foreach(name IN LISTS named)
  string(REGEX REPLACE "^scenarios/" "" name "${name}")
  if(EXISTS "${SCENARIOS}/${name}")
    list(APPEND files "${SCENARIOS}/${name}")
  else()
    list(APPEND missing "scenarios/${name}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${DOC} names scenario files that do not exist: ${missing}")
endif()

list(LENGTH files count)
message(STATUS "${DOC} names ${count} scenario files")
execute_process(COMMAND "${SAPP_HOST}" check ${files} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DOC}: scenarios it names do not pass (sapp-host check exited ${status})")
endif()
