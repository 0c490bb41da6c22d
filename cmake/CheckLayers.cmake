# The layering test: every include of a project file, in every source file
# of the tree, must be one that the layer table allows for the including
# file's folder.
#
#   cmake -DSOURCE_DIR=<project root> -DTABLE=<layer table> -P CheckLayers.cmake
#
# Reads every file with a source extension (LayerTable.cmake) in every
# folder but those the table's "skip:" line names. An include names a
# project file when its path, as written or (quoted) resolved against the
# including file's folder, starts with a top-level folder of the tree; the
# delimiters do not matter, so <appmgr/SAppMgr.h> counts like
# "appmgr/SAppMgr.h" and "../appmgr/SAppMgr.h". Other includes (<vector>,
# <gtest/gtest.h>) are system or third-party headers and pass.
#
# Fails naming the file and line of each include the table does not allow,
# each include whose path is a macro (it cannot be followed), each source
# file that no row covers, and each row or entry that names nothing in the
# tree. The table's format is described at its top (cmake/Layers.txt).

cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/LayerTable.cmake)
layer_require(SOURCE_DIR TABLE)
layer_read_table("${TABLE}")
layer_tree("${SOURCE_DIR}")

# Each violation is one unwrapped line on standard error, file:line first as
# in a compiler's report.
set(violations 0)
function(layer_violation text)
  message(NOTICE "${text}")
  math(EXPR count "${violations} + 1")
  set(violations ${count} PARENT_SCOPE)
endfunction()

# A row or an entry naming nothing is a table gone stale: it would allow
# what nobody reviewed once the name comes back.
foreach(folder IN LISTS layer_rows)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
    layer_violation("${TABLE}: the row ${folder} names no folder of the tree")
  endif()
  foreach(entry IN LISTS layer_allows_${folder} layer_tests_${folder})
    if(NOT EXISTS "${SOURCE_DIR}/${entry}")
      layer_violation("${TABLE}: the row ${folder} allows ${entry}, which the tree does not hold")
    endif()
  endforeach()
endforeach()

# The project file an include names, relative to the tree, or "" for a
# system or third-party header. A quoted include is looked for next to the
# including file first, as the compiler does.
function(layer_resolve file delimiter path out)
  set(${out} "" PARENT_SCOPE)
  string(REPLACE "\\" "/" path "${path}")  # a Windows compiler takes either separator
  if(delimiter STREQUAL "\"")
    get_filename_component(folder "${file}" DIRECTORY)
    cmake_path(SET beside NORMALIZE "${folder}/${path}")
    if(NOT beside MATCHES "^\\.\\./" AND EXISTS "${SOURCE_DIR}/${beside}"
       AND NOT IS_DIRECTORY "${SOURCE_DIR}/${beside}")
      set(${out} "${beside}" PARENT_SCOPE)
      return()
    endif()
  endif()
  cmake_path(SET normal NORMALIZE "${path}")
  string(REGEX REPLACE "/.*" "" first "${normal}")
  if(normal MATCHES "/" AND first IN_LIST layer_folders)
    set(${out} "${normal}" PARENT_SCOPE)
  endif()
endfunction()

set(scanned 0)
set(checked 0)
foreach(file IN LISTS layer_files)
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
    layer_violation("${file}: no row of ${TABLE} covers its folder")
    continue()
  endif()
  math(EXPR scanned "${scanned} + 1")
  set(allowed "${row}" ${layer_allows_${row}})
  get_filename_component(name "${file}" NAME)
  if(name MATCHES "_test\\.(cc|cpp|cxx)$" OR name MATCHES "^test_.*\\.(h|hpp|hh)$")
    list(APPEND allowed ${layer_tests_${row}})
  endif()

  # Each include directive with its line: the text before it counts the line.
  file(READ "${SOURCE_DIR}/${file}" rest)
  set(rest "\n${rest}")
  set(line 0)
  while(rest MATCHES "\n[ \t]*#[ \t]*include([^\n]*)")
    set(directive "${CMAKE_MATCH_0}")
    set(operand "${CMAKE_MATCH_1}")
    string(FIND "${rest}" "${directive}" at)
    string(SUBSTRING "${rest}" 0 ${at} before)
    string(REGEX MATCHALL "\n" newlines "${before}\n")
    list(LENGTH newlines skipped)
    math(EXPR line "${line} + ${skipped}")
    string(LENGTH "${directive}" length)
    math(EXPR after "${at} + ${length}")
    string(SUBSTRING "${rest}" ${after} -1 rest)

    # (One MATCHES per if: CMake evaluates both sides of an OR, and a failed
    # match clears the captures.)
    if(operand MATCHES "^[ \t]*\"([^\"]*)\"")
      set(delimiter "\"")
      set(path "${CMAKE_MATCH_1}")
    elseif(operand MATCHES "^[ \t]*<([^>]*)>")
      set(delimiter "<")
      set(path "${CMAKE_MATCH_1}")
    elseif(operand MATCHES "^_")
      continue()  # #include_next and the like: another directive
    else()
      string(STRIP "${operand}" operand)
      layer_violation("${file}:${line}: #include ${operand}: the layering test cannot follow \
an include that is not a \"path\" or <path>")
      continue()
    endif()
    layer_resolve("${file}" "${delimiter}" "${path}" target)
    if(target STREQUAL "")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")

    set(ok FALSE)
    foreach(entry IN LISTS allowed)
      if(target STREQUAL entry OR target MATCHES "^${entry}/")
        set(ok TRUE)
        break()
      endif()
    endforeach()
    if(NOT ok)
      string(STRIP "${operand}" written)
      if(NOT path STREQUAL target)
        string(APPEND written " (${target})")
      endif()
      list(JOIN allowed ", " allowed_text)
      layer_violation("${file}:${line}: #include ${written}: ${row} may not include it \
(it may include ${allowed_text}; table: ${TABLE})")
    endif()
  endwhile()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} violation(s) of the layer table ${TABLE}")
endif()
message(STATUS "${checked} project includes in ${scanned} files follow the layer table")
