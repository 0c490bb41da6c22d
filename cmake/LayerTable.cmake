# The layer table (cmake/Layers.txt) and the files it governs, read the same
# way by the layering check (CheckLayers.cmake) and by its test that plants
# forbidden includes in a scratch copy (CheckLayersPlanted.cmake).

# Stops the script unless each variable named was given with -D.
function(layer_require)
  foreach(var IN LISTS ARGN)
    if(NOT DEFINED ${var})
      get_filename_component(script "${CMAKE_SCRIPT_MODE_FILE}" NAME)
      message(FATAL_ERROR "${script}: -D${var}=... is required")
    endif()
  endforeach()
endfunction()

# Every C++ source and header extension the check reads.
set(layer_extensions h hpp hh cc cpp cxx ipp inl)

# layer_read_table(<table>)
# Sets in the caller's scope:
#   layer_rows              the folders of the rows, in table order
#   layer_allows_<folder>   what the folder's files may include
#   layer_tests_<folder>    what its test files may include besides
#   layer_skip              regular expressions of the folder names that the
#                           table's "skip:" line says hold no sources
function(layer_read_table table)
  set(rows "")
  set(skip "")
  file(STRINGS "${table}" lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(line MATCHES "^skip:(.*)$")
      separate_arguments(globs UNIX_COMMAND "${CMAKE_MATCH_1}")
      foreach(glob IN LISTS globs)
        string(REPLACE "." "\\." regex "${glob}")
        string(REPLACE "*" ".*" regex "${regex}")
        string(REPLACE "?" "." regex "${regex}")
        list(APPEND skip "^${regex}$")
      endforeach()
      continue()
    endif()
    string(REPLACE "|" ";" columns "${line}")
    list(LENGTH columns count)
    if(NOT count EQUAL 3)
      message(FATAL_ERROR "${table}: a row needs three columns separated by |: ${line}")
    endif()
    list(GET columns 0 folder)
    list(GET columns 1 allows)
    list(GET columns 2 tests)
    string(STRIP "${folder}" folder)
    separate_arguments(allows UNIX_COMMAND "${allows}")
    separate_arguments(tests UNIX_COMMAND "${tests}")
    list(APPEND rows "${folder}")
    set(layer_allows_${folder} ${allows} PARENT_SCOPE)
    set(layer_tests_${folder} ${tests} PARENT_SCOPE)
  endforeach()
  set(layer_rows ${rows} PARENT_SCOPE)
  set(layer_skip ${skip} PARENT_SCOPE)
endfunction()

# True when a folder name matches one of layer_skip.
function(layer_skipped name out)
  set(${out} FALSE PARENT_SCOPE)
  foreach(regex IN LISTS layer_skip)
    if(name MATCHES "${regex}")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# layer_tree(<source dir>)
# Sets in the caller's scope:
#   layer_folders   the top-level folders of the tree that are not skipped:
#                   an include whose path starts with one of them names a
#                   project file
#   layer_files     every source file of the tree outside skipped folders,
#                   relative to the tree, sorted
function(layer_tree dir)
  set(folders "")
  set(root_globs "")
  set(tree_globs "")
  foreach(extension IN LISTS layer_extensions)
    list(APPEND root_globs "${dir}/*.${extension}")
  endforeach()
  file(GLOB entries LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*")
  foreach(entry IN LISTS entries)
    layer_skipped("${entry}" skipped)
    if(IS_DIRECTORY "${dir}/${entry}" AND NOT skipped)
      list(APPEND folders "${entry}")
      foreach(extension IN LISTS layer_extensions)
        list(APPEND tree_globs "${dir}/${entry}/*.${extension}")
      endforeach()
    endif()
  endforeach()
  file(GLOB files RELATIVE "${dir}" ${root_globs})
  if(tree_globs)
    file(GLOB_RECURSE nested RELATIVE "${dir}" ${tree_globs})
    # A skipped folder deeper down (a build folder inside an example, say).
    foreach(file IN LISTS nested)
      string(REPLACE "/" ";" parts "${file}")
      list(POP_BACK parts)
      set(keep TRUE)
      foreach(part IN LISTS parts)
        layer_skipped("${part}" skipped)
        if(skipped)
          set(keep FALSE)
          break()
        endif()
      endforeach()
      if(keep)
        list(APPEND files "${file}")
      endif()
    endforeach()
  endif()
  list(SORT files)
  set(layer_folders ${folders} PARENT_SCOPE)
  set(layer_files ${files} PARENT_SCOPE)
endfunction()
