# sapp_add_exports_test(TARGET EXPECTED) registers the CTest test
# <TARGET>_exports: the export table of the shared library TARGET must hold
# exactly the names listed in EXPECTED for the toolchain that built it (see
# CheckExports.cmake). The check runs on the build machine, never through
# the cross-compiling emulator:
#   MSVC       the DLL's table read with dumpbin /exports (beside link.exe),
#              the list's msvc: names; in the msvc-wine preset (clang-cl
#              and lld-link on Linux) with llvm-readobj --coff-exports;
#   mingw-w64  the DLL's table read with objdump -p, the Itanium names;
#   ELF        the dynamic symbols read with nm -D, the Itanium names.
# Without the tool the test is still registered and reports itself skipped,
# naming what it needs; configure goes on.
function(sapp_add_exports_test target expected)
  if(MSVC AND SAPP_MSVC_WINE)
    set(column msvc)
    set(reader readobj)
    find_program(SAPP_LLVM_READOBJ NAMES llvm-readobj-14 llvm-readobj)
    set(tool "${SAPP_LLVM_READOBJ}")
    set(needs "llvm-readobj (Debian: llvm-14)")
    find_program(SAPP_LLVM_UNDNAME NAMES llvm-undname-14 llvm-undname)
    set(demangler "${SAPP_LLVM_UNDNAME}")
  elseif(MSVC)
    set(column msvc)
    set(reader dumpbin)
    get_filename_component(linker_dir "${CMAKE_LINKER}" DIRECTORY)
    find_program(SAPP_DUMPBIN NAMES dumpbin HINTS "${linker_dir}")
    set(tool "${SAPP_DUMPBIN}")
    set(needs "dumpbin.exe (Visual Studio's, beside link.exe; run from a Developer Command Prompt)")
    find_program(SAPP_UNDNAME NAMES undname llvm-undname HINTS "${linker_dir}")
    set(demangler "${SAPP_UNDNAME}")
  else()
    if(WIN32)
      set(column pe)
      set(reader objdump)
      set(tool "${CMAKE_OBJDUMP}")
      set(needs "an objdump that reads PE files (binutils-mingw-w64-x86-64; CMAKE_OBJDUMP)")
    else()
      set(column elf)
      set(reader nm)
      set(tool "${CMAKE_NM}")
      set(needs "nm (binutils; CMAKE_NM)")
    endif()
    # c++filt of the same binutils, for readable failure reports.
    set(demangler "")
    if(tool)
      get_filename_component(tool_dir "${tool}" DIRECTORY)
      get_filename_component(tool_name "${tool}" NAME)
      string(REGEX REPLACE "(objdump|nm)$" "c++filt" demangler_name "${tool_name}")
      find_program(SAPP_CXXFILT_${column} NAMES ${demangler_name} c++filt HINTS "${tool_dir}")
      set(demangler "${SAPP_CXXFILT_${column}}")
    endif()
  endif()

  if(NOT tool)
    sapp_add_skipped_test(${target}_exports "${needs}")
    return()
  endif()
  add_test(NAME ${target}_exports
           COMMAND ${CMAKE_COMMAND}
                   -DLIBRARY=$<TARGET_FILE:${target}>
                   -DCOLUMN=${column}
                   -DREADER=${reader}
                   -DTOOL=${tool}
                   -DEXPECTED=${expected}
                   -DDEMANGLER=${demangler}
                   -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckExports.cmake)
endfunction()
