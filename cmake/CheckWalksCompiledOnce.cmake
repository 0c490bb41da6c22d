# The records' walks (Record<R>::marshal and unmarshal) are compiled once in
# this project, in protocol/Records.cc: every record's header declares its
# instantiations extern for the targets that link sapp_protocol
# (marshal/RecordWalks.h). A record missing from its header's list is
# compiled again in every object that copies, builds or marshals it, which
# links and runs as before and so goes unnoticed. This check reads the
# symbols each given object defines and fails on every walk defined outside
# Records.cc's object, naming the object and the walk.
#
#   cmake -DNM=<nm> -DOBJECTS=<object>|<object>|... -P CheckWalksCompiledOnce.cmake
#
# Itanium names only (GCC, Clang on ELF); an object whose walk the compiler
# inlined everywhere defines no symbol for it, so the Debug builds are the
# ones that see every such walk.
include(${CMAKE_CURRENT_LIST_DIR}/RunTool.cmake)
foreach(var NM OBJECTS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckWalksCompiledOnce: ${var} not given")
  endif()
endforeach()

string(REPLACE "|" ";" objects "${OBJECTS}")
set(found)
set(checked 0)
foreach(object IN LISTS objects)
  # The fuzz build compiles Records.cc into the module's objects too.
  if(object MATCHES "/Records\\.cc\\.o(bj)?$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  sapp_run_tool(symbols ${NM} --defined-only -C ${object})
  string(REGEX MATCHALL "pakt::Record<[^\n]*>::(un)?marshal\\(pakt::(Pack|Unpack)&\\)" walks "${symbols}")
  list(REMOVE_DUPLICATES walks)
  foreach(walk IN LISTS walks)
    list(APPEND found "  ${object}: ${walk}")
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "CheckWalksCompiledOnce: no object to check in '${OBJECTS}'")
endif()
if(found)
  list(JOIN found "\n" lines)
  message(FATAL_ERROR "Records' walks compiled outside protocol/Records.cc (the record's header lacks its "
                      "extern template line):\n${lines}")
endif()
message(STATUS "${checked} objects define no record walk of their own")
