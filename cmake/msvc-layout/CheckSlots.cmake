# Compares the virtual tables in COFF object files (Microsoft C++ ABI) with
# the expected slot list and fails on every slot that differs.
#
#   cmake -DOBJECT_LISTS=<file;file> -DOBJDUMP=<llvm-objdump> -DREADOBJ=<llvm-readobj>
#         -DUNDNAME=<llvm-undname> -DEXPECTED=<Slots.txt> -P CheckSlots.cmake
#
# Each OBJECT_LISTS file names object files, one per line. A virtual table
# ??_7<class>@@6B@ sits in a section of its own, after the pointer to its
# type information; slot N is the relocation 8*N bytes after the table's
# symbol, and names the function the slot holds.
#
# EXPECTED holds lines "<class> | <slot> | <function>": <class> as
# llvm-undname writes it, <function> the end of llvm-undname's name of the
# slot's function (calling convention, name, parameters); '#' starts a
# comment. A listed class must have exactly the listed slots.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJECT_LISTS OBJDUMP READOBJ UNDNAME EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckSlots: ${var} not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../RunTool.cmake)

# Variables keyed by a decorated name: the name's hash, since decorated
# names hold characters a variable reference cannot.
function(key name out)
  string(MD5 hash "${name}")
  set(${out} "k${hash}" PARENT_SCOPE)
endfunction()

# Every virtual table: tables (decorated names) and, per table, its slots.
set(tables "")
set(names "")
foreach(list_file IN LISTS OBJECT_LISTS)
  file(STRINGS "${list_file}" objects)
  foreach(object IN LISTS objects)
    sapp_run_tool(output "${OBJDUMP}" -t "${object}")
    # "[ 12](sec 47)(fl 0x00)(ty 0)(scl 2) (nx 0) 0x00000008 ??_7X@@6B@"
    string(REGEX MATCHALL "\\(sec +[0-9]+\\)[^\n]* 0x[0-9a-f]+ \\?\\?_7[^\n]+" found "${output}")
    if(NOT found)
      continue()
    endif()
    sapp_run_tool(output "${READOBJ}" --relocations "${object}")
    set(relocations "${output}")
    foreach(line IN LISTS found)
      string(REGEX MATCH "^\\(sec +([0-9]+)\\).* 0x([0-9a-f]+) (.+)$" _ "${line}")
      set(section ${CMAKE_MATCH_1})
      math(EXPR offset "0x${CMAKE_MATCH_2}")
      set(table "${CMAKE_MATCH_3}")
      key("${table}" table_key)
      if(DEFINED ${table_key}_slots)  # the same table from another object
        continue()
      endif()
      # "  Section (47) .rdata {" ... "  }"
      string(REGEX MATCH "Section \\(${section}\\) [^\n]*\n[^}]*" block "${relocations}")
      set(slots "")
      while(TRUE)
        # llvm-readobj writes offsets as 0x8, 0x1A.
        list(LENGTH slots count)
        math(EXPR at "${offset} + 8 * ${count}" OUTPUT_FORMAT HEXADECIMAL)
        string(TOUPPER "${at}" at)
        string(REPLACE "0X" "0x" at "${at}")
        if(NOT block MATCHES "\n +${at} [A-Z0-9_]+ ([^ \n]+) \\(")
          break()
        endif()
        list(APPEND slots "${CMAKE_MATCH_1}")
        list(APPEND names "${CMAKE_MATCH_1}")
      endwhile()
      set(${table_key}_slots "${slots}")
      list(APPEND tables "${table}")
      list(APPEND names "${table}")
    endforeach()
  endforeach()
endforeach()

# Readable names: llvm-undname prints "<name>\n<readable>\n\n" for each
# name, or "<name>\n\n" for a name that is not decorated (_purecall).
# It fails on names that are not decorated, so its status says nothing.
list(REMOVE_DUPLICATES names)
if(names)
  execute_process(COMMAND "${UNDNAME}" ${names} OUTPUT_VARIABLE output ERROR_QUIET)
  string(ASCII 1 separator)
  string(REPLACE "\n\n" "${separator}" blocks "${output}")
  string(REGEX MATCHALL "[^${separator}]+" blocks "${blocks}")
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "^([^\n]+)(\n([^\n]+))?" _ "${block}")
    set(name "${CMAKE_MATCH_1}")
    set(readable "${CMAKE_MATCH_3}")
    if(readable STREQUAL "" OR readable MATCHES "^error:")
      set(readable "${name}")
    endif()
    key("${name}" name_key)
    set(${name_key}_readable "${readable}")
  endforeach()
endif()

# The class of each table: "const X::`vftable'" gives X.
foreach(table IN LISTS tables)
  key("${table}" table_key)
  string(REGEX REPLACE "^const (.+)::`vftable'" "\\1" class "${${table_key}_readable}")
  key("${class}" class_key)
  set(${class_key}_table "${table}")
endforeach()

file(STRINGS "${EXPECTED}" lines)
set(classes "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^(.+) \\| ([0-9]+) \\| (.+)$")
    message(FATAL_ERROR "CheckSlots: ${EXPECTED}: not \"<class> | <slot> | <function>\": ${line}")
  endif()
  set(class "${CMAKE_MATCH_1}")
  set(slot "${CMAKE_MATCH_2}")
  set(function "${CMAKE_MATCH_3}")
  key("${class}" class_key)  # (a function call clears CMAKE_MATCH_<n>)
  if(NOT DEFINED ${class_key}_expected)
    list(APPEND classes "${class}")
    set(${class_key}_expected "")
  endif()
  list(LENGTH ${class_key}_expected count)
  if(NOT count EQUAL slot)
    message(FATAL_ERROR "CheckSlots: ${EXPECTED}: ${class}'s slots must be listed from 0 in order")
  endif()
  set(${class_key}_function_${count} "${function}")
  list(APPEND ${class_key}_expected ${count})
endforeach()

set(report "")
foreach(class IN LISTS classes)
  key("${class}" class_key)
  if(NOT DEFINED ${class_key}_table)
    string(APPEND report "${class}: no virtual table in the objects\n")
    continue()
  endif()
  key("${${class_key}_table}" table_key)
  set(slots "${${table_key}_slots}")
  list(LENGTH slots actual_count)
  list(LENGTH ${class_key}_expected expected_count)
  set(differs FALSE)
  if(NOT actual_count EQUAL expected_count)
    set(differs TRUE)
  endif()
  set(actual_lines "")
  set(slot 0)
  foreach(target IN LISTS slots)
    key("${target}" target_key)
    set(readable "${${target_key}_readable}")
    string(APPEND actual_lines "  ${class} | ${slot} | ${readable}\n")
    set(wanted "${${class_key}_function_${slot}}")
    string(LENGTH "${readable}" length)
    string(LENGTH "${wanted}" wanted_length)
    if(wanted_length EQUAL 0 OR wanted_length GREATER length)
      set(differs TRUE)
    else()
      math(EXPR from "${length} - ${wanted_length}")
      string(SUBSTRING "${readable}" ${from} -1 tail)
      if(NOT tail STREQUAL wanted)
        set(differs TRUE)
      endif()
    endif()
    math(EXPR slot "${slot} + 1")
  endforeach()
  if(differs)
    string(APPEND report "${class}: ${actual_count} slots, ${expected_count} expected; the objects hold\n${actual_lines}")
  endif()
endforeach()

if(report)
  message(FATAL_ERROR "Virtual tables differ from ${EXPECTED}:\n${report}")
endif()
list(LENGTH classes count)
message(STATUS "${count} virtual tables as ${EXPECTED} lists them")
