# sapp_add_exports_test(TARGET EXPECTED) registers the CTest test
# <TARGET>_exports: the export table of the shared library TARGET must hold
# exactly the names listed in EXPECTED (see CheckExports.cmake). Windows DLLs
# are read with objdump -p, ELF libraries with nm -D. The check runs on the
# build machine, never through the cross-compiling emulator.
function(sapp_add_exports_test target expected)
  if(WIN32)
    set(format pe)
    set(tool "${CMAKE_OBJDUMP}")
  else()
    set(format elf)
    set(tool "${CMAKE_NM}")
  endif()
  if(NOT tool)
    message(FATAL_ERROR "sapp_add_exports_test: no ${format} symbol tool found")
  endif()
  # c++filt of the same binutils, for readable failure reports.
  get_filename_component(tool_dir "${tool}" DIRECTORY)
  get_filename_component(tool_name "${tool}" NAME)
  string(REGEX REPLACE "(objdump|nm)$" "c++filt" demangler_name "${tool_name}")
  find_program(SAPP_CXXFILT_${format} NAMES ${demangler_name} c++filt HINTS "${tool_dir}")

  add_test(NAME ${target}_exports
           COMMAND ${CMAKE_COMMAND}
                   -DLIBRARY=$<TARGET_FILE:${target}>
                   -DFORMAT=${format}
                   -DTOOL=${tool}
                   -DEXPECTED=${expected}
                   -DDEMANGLER=${SAPP_CXXFILT_${format}}
                   -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckExports.cmake)
endfunction()
