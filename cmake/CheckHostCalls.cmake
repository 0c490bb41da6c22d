# The host-call check: every host function the module calls can be made to
# fail, and the fault sweep makes it fail. Two lists must be equal:
#
#   what the module calls, read from the module itself:
#     - the functions it imports from the host libraries: the undefined
#       dynamic symbols of libsapp.so that the host libraries define as
#       functions (ELF), or the names sapp.dll imports from them (PE); type
#       information and virtual tables are data, not calls;
#     - the virtual functions of the host's interfaces (classes declared in
#       host/) it calls, found by clang-query in the module's sources, as
#       compiled (compile_commands.json), templates instantiated (comptr's
#       releaseRef counts);
#   what the sweep makes fail: sapp-host sweep --calls SCENARIO, the host
#     functions the stand-ins' watch saw the module call while the scenario
#     played, with and without a log sink, and while the module loaded.
#
# A function of the first list missing from the second is a host call no
# fault can reach: a new host function the stand-ins do not route through
# their fault switches (standin/tarnbase/HostFaults.h), or one the sweep's
# scenario never makes. One of the second missing from the first means this
# check no longer reads the module right.
#
#   cmake -DMODULE=<file> -DREADER=nm|objdump -DTOOL=<nm or objdump>
#         -DDEMANGLER=<c++filt> [-DHOST_LIBS=<lib;lib>] [-DHOST_DLLS=<dll;dll>]
#         [-DCLANG_QUERY=<clang-query> -DBUILD_DIR=<dir> -DSOURCE_DIR=<dir>
#          -DMODULE_FOLDERS=<folder;folder>]
#         -DSAPP_HOST=<sapp-host> [-DEMULATOR=<wine>] -DSCENARIO=<file>
#         -P CheckHostCalls.cmake
#
# HOST_LIBS (ELF): the host libraries, whose defined functions the imports
# are taken from. HOST_DLLS (PE): the host DLLs' names as the import table
# gives them. Without CLANG_QUERY (a cross build) the virtual calls are not
# read, and only the imports are checked against the sweep: the native
# builds check the rest.
cmake_policy(VERSION 3.25)

foreach(var MODULE READER TOOL DEMANGLER SAPP_HOST SCENARIO)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckHostCalls: ${var} not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/RunTool.cmake)

# Lists come with "|" between their items: add_test would split at ";".
foreach(var HOST_LIBS HOST_DLLS MODULE_FOLDERS)
  string(REPLACE "|" ";" ${var} "${${var}}")
endforeach()

# "Class::function" of demangled names: the parameters and qualifiers cut.
function(demangled_functions names out)
  if(NOT names)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(REPLACE ";" "\n" text "${names}")
  set(input "${CMAKE_CURRENT_BINARY_DIR}/host-call-names.txt")
  file(WRITE "${input}" "${text}\n")
  execute_process(COMMAND "${DEMANGLER}" INPUT_FILE "${input}" OUTPUT_VARIABLE demangled
                  RESULT_VARIABLE result ERROR_VARIABLE error)
  file(REMOVE "${input}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${DEMANGLER} failed: ${error}")
  endif()
  set(functions "")
  string(REGEX MATCHALL "[^\n]+" lines "${demangled}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\\(.*$" "" line "${line}")
    list(APPEND functions "${line}")
  endforeach()
  set(${out} "${functions}" PARENT_SCOPE)
endfunction()

# --- the module's imports from the host libraries ----------------------------
set(imported "")
if(READER STREQUAL "nm")
  sapp_run_tool(undefined "${TOOL}" -D --undefined-only "${MODULE}")
  string(REGEX MATCHALL "U [^\n@]+" undefined_names "${undefined}")
  list(TRANSFORM undefined_names REPLACE "^U " "")
  sapp_run_tool(defined "${TOOL}" -D --defined-only ${HOST_LIBS})
  # Functions only: T (text), W (weak), i (indirect).
  string(REGEX MATCHALL "[0-9a-fA-F]+ [TWi] [^\n@]+" host_functions "${defined}")
  list(TRANSFORM host_functions REPLACE "^[0-9a-fA-F]+ [TWi] " "")
  foreach(name IN LISTS undefined_names)
    if(name IN_LIST host_functions)
      list(APPEND imported "${name}")
    endif()
  endforeach()
elseif(READER STREQUAL "objdump")
  sapp_run_tool(dump "${TOOL}" -p "${MODULE}")
  string(TOLOWER "${HOST_DLLS}" host_dlls)
  set(dll "")
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: *([^ \t]+)")
      string(TOLOWER "${CMAKE_MATCH_1}" dll)
    elseif(dll IN_LIST host_dlls AND line MATCHES "^\t[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([^ \t]+)")
      list(APPEND imported "${CMAKE_MATCH_1}")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "CheckHostCalls: READER must be nm or objdump, not '${READER}'")
endif()
# Type information and virtual tables are data the module refers to.
list(FILTER imported EXCLUDE REGEX "^_ZT[VIS]")
if(NOT imported)
  message(FATAL_ERROR "No import from the host libraries found in ${MODULE}: the check cannot read it")
endif()
demangled_functions("${imported}" module_calls)

# --- the virtual calls on the host's interfaces -------------------------------
set(read_virtual_calls OFF)
if(CLANG_QUERY)
  set(read_virtual_calls ON)
  file(READ "${BUILD_DIR}/compile_commands.json" database)
  string(JSON count LENGTH "${database}")
  math(EXPR last "${count} - 1")
  set(sources "")
  foreach(i RANGE ${last})
    string(JSON source GET "${database}" ${i} file)
    foreach(folder IN LISTS MODULE_FOLDERS)
      if(source MATCHES "^${SOURCE_DIR}/${folder}/" AND NOT source MATCHES "_test\\.cc$")
        list(APPEND sources "${source}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES sources)
  if(NOT sources)
    message(FATAL_ERROR "No source of the module in ${BUILD_DIR}/compile_commands.json")
  endif()
  # Each match shows the method ("m"), its class ("c") and the class's
  # namespace ("n", when it has one), each as a source line and a column.
  set(query "${CMAKE_CURRENT_BINARY_DIR}/host-calls.query")
  file(WRITE "${query}" "set bind-root false
set output diag
match cxxMemberCallExpr(callee(cxxMethodDecl(isVirtual(), ofClass(cxxRecordDecl(isExpansionInFileMatching(\"/host/\"), optionally(hasParent(namespaceDecl().bind(\"n\")))).bind(\"c\"))).bind(\"m\")))
")
  execute_process(COMMAND "${CLANG_QUERY}" -p "${BUILD_DIR}" -f "${query}" ${sources}
                  OUTPUT_VARIABLE matches ERROR_VARIABLE errors RESULT_VARIABLE result)
  file(REMOVE "${query}")
  if(NOT result EQUAL 0 OR matches MATCHES "error:")
    message(FATAL_ERROR "clang-query failed on the module's sources:\n${errors}\n${matches}")
  endif()
  # One list item per match: no ";" or bracket of the source lines may
  # split or join items.
  string(REGEX REPLACE "[][;]" " " matches "${matches}")
  string(REPLACE "\nMatch #" ";" blocks "${matches}")
  list(FILTER blocks INCLUDE REGEX "binds here")
  foreach(block IN LISTS blocks)
    set(names "")
    foreach(binding n c m)
      set(name "")
      # ":column: note: "x" binds here", then the source line.
      if(block MATCHES ":([0-9]+): note: \"${binding}\" binds here\n([^\n]*)")
        math(EXPR column "${CMAKE_MATCH_1} - 1")
        string(SUBSTRING "${CMAKE_MATCH_2}" ${column} -1 text)
        if(binding STREQUAL "n" AND text MATCHES "^namespace +([A-Za-z_0-9]+)")
          set(name "${CMAKE_MATCH_1}")
        elseif(binding STREQUAL "c" AND text MATCHES "^(class|struct) +([A-Za-z_0-9 ]*[A-Za-z_0-9])")
          string(REGEX REPLACE ".* " "" name "${CMAKE_MATCH_2}")
        elseif(binding STREQUAL "m" AND text MATCHES "([A-Za-z_0-9]+) *\\(")
          set(name "${CMAKE_MATCH_1}")
        endif()
        if(NOT name)
          message(FATAL_ERROR "Cannot read the ${binding} of a host call in:\n${block}")
        endif()
        list(APPEND names "${name}")
      endif()
    endforeach()
    list(JOIN names "::" function)
    list(APPEND module_calls "${function}")
  endforeach()
  if(NOT blocks)
    message(FATAL_ERROR "clang-query found no virtual call on a host interface: the check cannot read the sources")
  endif()
endif()
list(REMOVE_DUPLICATES module_calls)
list(SORT module_calls)

# --- what the sweep makes fail -------------------------------------------------
execute_process(COMMAND ${EMULATOR} "${SAPP_HOST}" --module "${MODULE}" sweep --calls "${SCENARIO}"
                OUTPUT_VARIABLE swept ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "sapp-host sweep --calls failed (${result}):\n${errors}")
endif()
string(REGEX MATCHALL "[^\r\n]+" swept_calls "${swept}")

set(missing ${module_calls})
if(swept_calls)
  list(REMOVE_ITEM missing ${swept_calls})
endif()
set(extra ${swept_calls})
if(module_calls)
  list(REMOVE_ITEM extra ${module_calls})
endif()
if(NOT read_virtual_calls)
  # Only the imports were read: the virtual calls are the native builds' to check.
  list(FILTER extra EXCLUDE REGEX "^(I[A-Z]|Data::I)")
endif()

set(report "")
if(missing)
  list(JOIN missing "\n  " text)
  string(APPEND report "The module calls these host functions, which no sweep run makes fail:\n  ${text}\n"
         "Route each through the stand-ins' fault switches (standin/tarnbase/HostFaults.h: a HostCall, "
         "and enterHostCall or failIfAsked at its start) and give ${SCENARIO} a step that makes the call.\n")
endif()
if(extra)
  list(JOIN extra "\n  " text)
  string(APPEND report "The sweep made these fail, which this check does not find the module calling:\n  ${text}\n"
         "The check no longer reads the module's imports or sources right.\n")
endif()
if(report)
  message(FATAL_ERROR "${report}")
endif()
list(LENGTH module_calls count)
list(JOIN module_calls ", " text)
if(read_virtual_calls)
  message(STATUS "Every one of the module's ${count} host calls can fail, and the sweep makes it fail: ${text}")
else()
  message(STATUS "Every one of the module's ${count} imported host functions can fail, and the sweep makes it fail "
                 "(its virtual calls are checked by the native builds): ${text}")
endif()
