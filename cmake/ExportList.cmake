# Reads the module's export list (module/sapp.exports): decorated names, one
# per line, '#' starting a comment. A line without a prefix is an Itanium
# name (GCC, Clang, mingw-w64), expected in the elf and pe columns;
# "elf: NAME" and "pe: NAME" name an export of that format only, "msvc: NAME"
# an MSVC-decorated export of an MSVC build. On ELF every exported typeinfo
# object _ZTI<x> comes with its name object _ZTS<x>, which PE keeps
# internal; the list names only the former, and the elf column adds the
# latter.
#
#   sapp_read_export_list(FILE COLUMN OUT)   COLUMN: elf, pe or msvc
#
# The export check (cmake/CheckExports.cmake) compares a linked library with
# this list; the Linux module's version script is written from it
# (module/CMakeLists.txt), so the list is the one place the exports are
# named.
function(sapp_read_export_list file column out)
  file(STRINGS "${file}" lines)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line MATCHES "^(pe|elf|msvc): *(.+)$")
      if(NOT CMAKE_MATCH_1 STREQUAL column)
        continue()
      endif()
      set(line "${CMAKE_MATCH_2}")
    elseif(column STREQUAL "msvc")
      continue()
    endif()
    if(line)
      list(APPEND names "${line}")
      if(column STREQUAL "elf" AND line MATCHES "^_ZTI(.+)$")
        list(APPEND names "_ZTS${CMAKE_MATCH_1}")
      endif()
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
