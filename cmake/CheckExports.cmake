# Compares the export table of a shared library with the expected list and
# fails on every name that is missing or extra.
#
#   cmake -DLIBRARY=<file> -DCOLUMN=elf|pe|msvc -DREADER=<reader> -DTOOL=<tool>
#         -DEXPECTED=<list> [-DDEMANGLER=<c++filt|undname>] -P CheckExports.cmake
#
# The list's form, and how each column reads it: cmake/ExportList.cmake.
#
# READER says how the exports are read:
#   objdump  the name pointer table of a DLL (objdump -p);
#   dumpbin  the name column of a DLL's exports (dumpbin /exports);
#   readobj  the export table of a DLL as llvm-readobj --coff-exports lists
#            it (the msvc-wine preset, where no dumpbin exists);
#   nm       the defined dynamic symbols of an ELF library (nm -D).
foreach(var LIBRARY COLUMN READER TOOL EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckExports: ${var} not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/ExportList.cmake)
sapp_read_export_list("${EXPECTED}" "${COLUMN}" expected)

include(${CMAKE_CURRENT_LIST_DIR}/RunTool.cmake)

# The names a reader prints one per line, as the first group of PATTERN.
function(names_in_lines text pattern out)
  set(names "")
  string(REGEX MATCHALL "[^\r\n]+" lines "${text}")
  foreach(line IN LISTS lines)
    if(line MATCHES "${pattern}")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

set(actual)
if(READER STREQUAL "objdump")
  sapp_run_tool(dump "${TOOL}" -p "${LIBRARY}")
  # The name pointer table: "\t[   0] name" lines up to the next blank line.
  set(header "[Ordinal/Name Pointer] Table\n")
  string(FIND "${dump}" "${header}" start)
  if(start GREATER -1)
    string(LENGTH "${header}" skip)
    math(EXPR start "${start} + ${skip}")
    string(SUBSTRING "${dump}" ${start} -1 table)
    string(FIND "${table}" "\n\n" end)
    string(SUBSTRING "${table}" 0 ${end} table)
    string(REGEX REPLACE "\\[ *[0-9]+\\] " "" table "${table}")
    string(REGEX MATCHALL "[^\n\t ]+" actual "${table}")
  endif()
elseif(READER STREQUAL "dumpbin")
  sapp_run_tool(dump "${TOOL}" /exports "${LIBRARY}")
  # "  ordinal hint RVA name" rows; the name may be followed by " = ..." or
  # " (forwarded to ...)".
  names_in_lines("${dump}" "^ +[0-9]+ +[0-9A-Fa-f]+ +[0-9A-Fa-f]+ +([^ ]+)" actual)
elseif(READER STREQUAL "nm")
  sapp_run_tool(dump "${TOOL}" -D --defined-only "${LIBRARY}")
  names_in_lines("${dump}" "^[0-9a-fA-F]* *[A-Za-z] ([^ ]+)$" actual)
elseif(READER STREQUAL "readobj")
  sapp_run_tool(dump "${TOOL}" --coff-exports "${LIBRARY}")
  # "Export {" blocks with "  Name: <name>" (empty for ordinal-only entries).
  names_in_lines("${dump}" "^  Name: ([^ ]+)$" actual)
else()
  message(FATAL_ERROR "CheckExports: READER must be objdump, dumpbin, readobj or nm, not '${READER}'")
endif()

list(REMOVE_DUPLICATES expected)
list(SORT expected)
list(SORT actual)
set(missing ${expected})
set(extra ${actual})
if(actual)
  list(REMOVE_ITEM missing ${actual})
endif()
if(expected)
  list(REMOVE_ITEM extra ${expected})
endif()

# "name  (demangled)" lines for the report.
function(describe names out)
  set(text "")
  foreach(name IN LISTS names)
    set(readable "")
    if(DEMANGLER)
      # c++filt prints the readable name, undname the name and then it.
      execute_process(COMMAND "${DEMANGLER}" "${name}" OUTPUT_VARIABLE readable
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      string(REGEX REPLACE "^.*\n" "" readable "${readable}")
    endif()
    if(readable AND NOT readable STREQUAL name)
      string(APPEND text "  ${name}  (${readable})\n")
    else()
      string(APPEND text "  ${name}\n")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

get_filename_component(library_name "${LIBRARY}" NAME)
list(LENGTH actual count)
if(missing OR extra)
  set(report "")
  if(missing)
    describe("${missing}" text)
    string(APPEND report "missing from ${library_name}:\n${text}")
  endif()
  if(extra)
    describe("${extra}" text)
    string(APPEND report "exported by ${library_name} but not expected:\n${text}")
  endif()
  message(FATAL_ERROR "Export table differs from ${EXPECTED}\n${report}")
endif()
message(STATUS "${library_name}: ${count} exports, as expected")
