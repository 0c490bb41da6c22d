# The layering test: every #include "..." in the folders of the layer table
# must be one that the table allows for the including file's folder.
#
#   cmake -DSOURCE_DIR=<project root> -DTABLE=<layer table> -P CheckLayers.cmake
#
# Fails naming the file and line of each include the table does not allow,
# and each source file in a listed top-level folder that no row covers. The
# table's format is described at its top (cmake/Layers.txt).

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE_DIR TABLE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckLayers.cmake: -D${var}=... is required")
  endif()
endforeach()

# --- the table ---------------------------------------------------------------
# For each row: layer_rows gets the folder, layer_allows_<folder> its entries
# and layer_tests_<folder> what its test files may also include.
set(layer_rows "")
set(layer_roots "")
file(STRINGS "${TABLE}" table_lines)
foreach(line IN LISTS table_lines)
  if(line MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  string(REPLACE "|" ";" columns "${line}")
  list(LENGTH columns count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "${TABLE}: a row needs three columns separated by |: ${line}")
  endif()
  list(GET columns 0 folder)
  list(GET columns 1 allows)
  list(GET columns 2 tests)
  string(STRIP "${folder}" folder)
  separate_arguments(allows UNIX_COMMAND "${allows}")
  separate_arguments(tests UNIX_COMMAND "${tests}")
  list(APPEND layer_rows "${folder}")
  set(layer_allows_${folder} ${allows})
  set(layer_tests_${folder} ${tests})
  string(REGEX REPLACE "/.*" "" root "${folder}")
  list(APPEND layer_roots "${root}")
endforeach()
list(REMOVE_DUPLICATES layer_roots)

# True when `include` names a file of `entry`: a folder, or one file.
function(layer_entry_covers entry include out)
  if(include STREQUAL entry OR include MATCHES "^${entry}/")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# --- the files ---------------------------------------------------------------
set(violations 0)
set(scanned 0)
set(checked 0)
foreach(root IN LISTS layer_roots)
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${root}/*.h" "${SOURCE_DIR}/${root}/*.cc")
  list(SORT files)
  foreach(file IN LISTS files)
    # The file's row: the longest folder that holds it.
    set(row "")
    foreach(folder IN LISTS layer_rows)
      string(LENGTH "${folder}" length)
      string(LENGTH "${row}" best)
      if(file MATCHES "^${folder}/" AND length GREATER best)
        set(row "${folder}")
      endif()
    endforeach()
    if(row STREQUAL "")
      message(SEND_ERROR "${file}: its folder has no row in ${TABLE}")
      math(EXPR violations "${violations} + 1")
      continue()
    endif()
    math(EXPR scanned "${scanned} + 1")
    set(allowed "${row}" ${layer_allows_${row}})
    get_filename_component(name "${file}" NAME)
    if(name MATCHES "_test\\.cc$" OR name MATCHES "^test_.*\\.h$")
      list(APPEND allowed ${layer_tests_${row}})
    endif()

    # Each include with its line: the text before it counts the line.
    file(READ "${SOURCE_DIR}/${file}" rest)
    set(rest "\n${rest}")
    set(line 0)
    while(rest MATCHES "\n[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\"")
      set(include "${CMAKE_MATCH_1}")
      string(FIND "${rest}" "${CMAKE_MATCH_0}" at)
      string(SUBSTRING "${rest}" 0 ${at} before)
      string(REGEX MATCHALL "\n" newlines "${before}\n")
      list(LENGTH newlines skipped)
      math(EXPR line "${line} + ${skipped}")
      string(LENGTH "${CMAKE_MATCH_0}" length)
      math(EXPR after "${at} + ${length}")
      string(SUBSTRING "${rest}" ${after} -1 rest)
      math(EXPR checked "${checked} + 1")

      set(ok FALSE)
      foreach(entry IN LISTS allowed)
        layer_entry_covers("${entry}" "${include}" covered)
        if(covered)
          set(ok TRUE)
          break()
        endif()
      endforeach()
      if(NOT ok)
        list(JOIN allowed ", " allowed_text)
        message(SEND_ERROR "${file}:${line}: #include \"${include}\": ${row} may not include it "
                           "(it may include ${allowed_text}; table: ${TABLE})")
        math(EXPR violations "${violations} + 1")
      endif()
    endwhile()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} violation(s) of the layer table ${TABLE}")
endif()
message(STATUS "${checked} includes in ${scanned} files follow the layer table")
