# The layering test's own test: copies the files the check reads (the layer
# table and every source file of the tree) into a scratch folder, checks
# that the unmodified copy passes with every file scanned, then plants one
# forbidden include or uncovered file at a time and checks that the check
# fails on exactly that file and line, and on nothing else.
#
#   cmake -DSOURCE_DIR=<project root> -DTABLE=<layer table>
#         -DSCRATCH=<folder in the build tree> -P CheckLayersPlanted.cmake

cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/LayerTable.cmake)
layer_require(SOURCE_DIR TABLE SCRATCH)
layer_read_table("${TABLE}")
layer_tree("${SOURCE_DIR}")

set(tree "${SCRATCH}/tree")
set(table "${SCRATCH}/Layers.txt")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(COPY_FILE "${TABLE}" "${table}")
foreach(file IN LISTS layer_files)
  get_filename_component(folder "${tree}/${file}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${SOURCE_DIR}/${file}" "${tree}/${file}")
endforeach()

# Runs the check on the scratch copy; sets `passed` and `output`.
function(run_check)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -DTABLE=${table}
                          -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckLayers.cmake
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(result EQUAL 0)
    set(passed TRUE PARENT_SCOPE)
  else()
    set(passed FALSE PARENT_SCOPE)
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# The unmodified copy passes, and has scanned every file that was copied: a
# copy the check did not read would let every plant below fail for nothing.
list(LENGTH layer_files copied)
run_check()
if(NOT passed OR NOT output MATCHES "-- ([1-9][0-9]*) project includes in ([0-9]+) files follow")
  message(FATAL_ERROR "The unmodified copy in ${tree} does not pass the layering check:\n${output}")
endif()
if(NOT CMAKE_MATCH_2 EQUAL copied)
  message(FATAL_ERROR "The check scanned ${CMAKE_MATCH_2} files of the ${copied} copied to ${tree}:\n${output}")
endif()

# plant(<file> <expected report> <line>...): writes the file (with the lines
# given), expects the check to fail with one violation whose report starts
# with <expected report>, and removes the file again.
set(failures 0)
function(plant file expected)
  list(JOIN ARGN "\n" text)
  file(WRITE "${tree}/${file}" "${text}\n")
  run_check()
  file(REMOVE "${tree}/${file}")
  string(FIND "${output}" "${expected}" at)
  if(passed OR at EQUAL -1 OR NOT output MATCHES "[ \n]1 violation\\(s\\) of the layer table")
    message(SEND_ERROR "Planted ${file}: expected the check to fail with the one report\n  ${expected}\n"
                       "but it said:\n${output}")
    math(EXPR count "${failures} + 1")
    set(failures ${count} PARENT_SCOPE)
  else()
    message(STATUS "Planted ${file}: caught")
  endif()
endfunction()

# A project header in angle brackets; the system and third-party headers
# around it are no project files and pass.
plant(host/Planted.h "host/Planted.h:4: #include <appmgr/SAppMgr.h>: host may not include it"
  "// Planted by the layering test."
  "#include <vector>"
  "#include <nlohmann/json.hpp>"
  "#include <appmgr/SAppMgr.h>")

# A header extension other than .h.
plant(support/Planted.hpp "support/Planted.hpp:2: #include \"module/SAppModule.h\": support may not include it"
  "// Planted by the layering test."
  "#include \"module/SAppModule.h\"")

# A path that climbs out of the including file's folder, in an .inl file.
plant(protocol/Planted.inl
  "protocol/Planted.inl:2: #include \"../appmgr/SAppMgr.h\" (appmgr/SAppMgr.h): protocol may not include it"
  "// Planted by the layering test."
  "#  include \"../appmgr/SAppMgr.h\"")

# The example host, which may reach the module through its exported
# headers only.
plant(examples/minimal-host/Planted.cc
  "examples/minimal-host/Planted.cc:2: #include \"appmgr/SAppMgr.h\": examples/minimal-host may not include it"
  "// Planted by the layering test."
  "#include \"appmgr/SAppMgr.h\"")

# The session's parts never see their hub: the app manager may not include
# module/, nor may a handler's test; and host/ includes nothing of ours.
plant(appmgr/Planted.cc "appmgr/Planted.cc:2: #include \"module/SAppContext.h\": appmgr may not include it"
  "// Planted by the layering test."
  "#include \"module/SAppContext.h\"")
plant(handlers/Planted_test.cc "handlers/Planted_test.cc:2: #include \"module/SAppContext.h\": handlers may not include it"
  "// Planted by the layering test."
  "#include \"module/SAppContext.h\"")
plant(host/Planted.h "host/Planted.h:2: #include \"protocol/ClientEvents.h\": host may not include it"
  "// Planted by the layering test."
  "#include \"protocol/ClientEvents.h\"")

# A source file in a folder that no row covers, whatever it includes.
plant(gadgets/Gadget.cc "gadgets/Gadget.cc: no row of"
  "// Planted by the layering test."
  "#include <vector>")
file(REMOVE_RECURSE "${tree}/gadgets")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} planted fault(s) not caught by the layering check")
endif()
message(STATUS "Every planted fault was caught; the unmodified copy of ${copied} files passes")
