# Checks that the pure-virtual slots of the exported interface tables in a
# mingw-w64 DLL hold the runtime's pure-virtual handler, not 0.
#
#   cmake -DLIBRARY=<dll> -DNM=<nm> -DOBJDUMP=<objdump>
#         -DTABLES=<name:count,...> -P CheckPureVirtual.cmake
#
# TABLES names each virtual table (mangled, _ZTV...) with the number of its
# pure operations, which follow offset-to-top, type information and the two
# destructor slots (Itanium ABI). GCC leaves the destructor slots of an
# abstract class at 0 (no complete object of it exists, so nothing calls
# them); a pure operation's slot must hold __cxa_pure_virtual, which
# reports "pure virtual method called" and terminates. A static libstdc++
# only brings that handler in when something references it strongly: the
# vtables' references are weak, and a weak reference that nothing defines
# is 0.
cmake_minimum_required(VERSION 3.25)

foreach(var LIBRARY NM OBJDUMP TABLES)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "CheckPureVirtual: ${var} not given")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/RunTool.cmake)
sapp_run_tool(symbols "${NM}" "${LIBRARY}")

# The address nm gives a defined symbol, as lower-case hex without leading
# zeros, or "" when the symbol is not defined in the file.
function(symbol_address name out)
  set(address "")
  if(symbols MATCHES "(^|\n)([0-9a-fA-F]+) [TtRrDd] ${name}\n")
    string(TOLOWER "${CMAKE_MATCH_2}" address)
    string(REGEX REPLACE "^0+" "" address "${address}")
  endif()
  set(${out} "${address}" PARENT_SCOPE)
endfunction()

get_filename_component(library_name "${LIBRARY}" NAME)
symbol_address(__cxa_pure_virtual handler)
if(NOT handler)
  message(FATAL_ERROR "${library_name} defines no __cxa_pure_virtual: every pure-virtual slot of its "
                      "tables is 0 and a call through one jumps to address 0")
endif()

set(failures "")
string(REPLACE "," ";" TABLES "${TABLES}")
foreach(entry IN LISTS TABLES)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 table)
  list(GET entry 1 pure)
  symbol_address(${table} start)
  if(NOT start)
    string(APPEND failures "  ${table}: not in ${library_name}\n")
    continue()
  endif()
  # Words 0 to 3: offset-to-top, type information, the two destructors.
  math(EXPR first "0x${start} + 32" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR stop "${first} + 8 * ${pure}" OUTPUT_FORMAT HEXADECIMAL)
  sapp_run_tool(dump "${OBJDUMP}" -s --start-address=${first} --stop-address=${stop} "${LIBRARY}")
  # " <address> <up to four 8-digit groups, 35 columns>  <ascii>": keep
  # the groups. The ascii column shows the words' bytes, any of which may
  # be one that CMake's lists split on (';') or group by ('[', ']': a handler
  # at an address with a byte 0x5b joined every later line into one);
  # nothing but letters, digits and blanks is kept of it.
  string(REGEX REPLACE "[^0-9A-Za-z \n]" "." dump "${dump}")
  set(bytes "")
  string(REGEX MATCHALL "\n [0-9a-f]+ [^\n]+" lines "${dump}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^\n [0-9a-f]+ " "" line "${line}")
    string(SUBSTRING "${line}" 0 35 line)
    string(REPLACE " " "" line "${line}")
    string(APPEND bytes "${line}")
  endforeach()
  string(LENGTH "${bytes}" length)
  math(EXPR wanted "16 * ${pure}")
  if(length LESS wanted)
    string(APPEND failures "  ${table}: ${OBJDUMP} -s gave ${length} of ${wanted} hex digits at ${first}\n")
    continue()
  endif()
  math(EXPR last "${pure} - 1")
  foreach(slot RANGE ${last})
    # A little-endian 64-bit word: reverse its eight bytes.
    math(EXPR at "${slot} * 16")
    string(SUBSTRING "${bytes}" ${at} 16 word)
    set(value "")
    foreach(byte RANGE 7 0 -1)
      math(EXPR from "${byte} * 2")
      string(SUBSTRING "${word}" ${from} 2 pair)
      string(APPEND value "${pair}")
    endforeach()
    string(REGEX REPLACE "^0+" "" value "${value}")
    math(EXPR itanium_slot "${slot} + 2")
    if(NOT value STREQUAL handler)
      if(value STREQUAL "")
        set(value 0)
      endif()
      string(APPEND failures "  ${table} slot ${itanium_slot}: 0x${value}, not __cxa_pure_virtual (0x${handler})\n")
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Pure-virtual slots of ${library_name} that do not hold the handler:\n${failures}")
endif()
list(LENGTH TABLES count)
message(STATUS "${library_name}: the pure-virtual slots of ${count} tables hold __cxa_pure_virtual (0x${handler})")
