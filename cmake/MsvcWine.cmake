# Preset msvc-wine: the checks of the linked MSVC-ABI binaries (the build
# and its runtime are cmake/msvc-wine.cmake and msvc-runtime/). Beside the
# test suites every build runs (under Wine), and sapp_exports (the export
# table against sapp.exports' msvc: names, llvm-readobj), three tests read
# the binaries themselves:
#
#   msvc_dll_imports  sapp.dll imports from the MSVC runtime DLLs
#                     (vcruntime140, msvcp140, ucrtbase; kernel32) and the
#                     host libraries only; the stand-in host libraries from
#                     the runtime DLLs only;
#   msvc_dll_layout   the virtual tables (cmake/msvc-layout/Slots.txt) and
#                     the record layouts, std::string's members included
#                     (cmake/msvc-layout/Offsets.txt), read from sapp.dll,
#                     sapp_msvc_layout.dll and the PDBs beside them;
#   msvc_host_imports_documented
#                     the names sapp.dll imports from pktcore.dll and
#                     tarnbase.dll are the table of docs/msvc-host.md
#                     ("Exports your host libraries provide"); rewrite it
#                     with the same command and --write;
#   sapp_msvc_layout  (a DLL, not a test) cmake/msvc-layout/Layout.cc: the
#                     interfaces a host implements, compiled as a host and
#                     linked, so their tables can be read like the module's.
#
# CheckDll.py (Python 3) does the reading with LLVM's tools (Debian: llvm-14).
add_library(sapp_msvc_layout SHARED ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/Layout.cc)
target_link_libraries(sapp_msvc_layout PRIVATE sapp_headers pktcore)

# The layouts are read from the type records (CodeView, /Z7) that the
# objects of sapp.dll and of the probe carry into the PDB the linker writes
# beside each DLL. Only those: debug information costs compile time.
foreach(target sapp_core sapp_protocol sapp_msvc_layout)
  target_compile_options(${target} PRIVATE /Z7)
endforeach()
# The other binaries the package ships, and the start-up code linked into
# each, carry line tables only (CodeView, no types): their PDBs (installed
# beside them, cmake/SappInstall.cmake) map every address to its function,
# file and line, for a debugger or a crash dump. Debug information only:
# the code generated is the same with or without it.
foreach(target pktcore tarnbase sapp_host_lib sapp-host sapp_msvc_runtime)
  target_compile_options(${target} PRIVATE -gline-tables-only)
endforeach()

find_package(Python3 COMPONENTS Interpreter)
set(needs "")
foreach(tool llvm-readobj llvm-pdbutil llvm-undname)
  string(MAKE_C_IDENTIFIER "SAPP_${tool}" variable)
  string(TOUPPER "${variable}" variable)
  find_program(${variable} NAMES ${tool}-14 ${tool})
  if(NOT ${variable})
    list(APPEND needs ${tool})
  endif()
endforeach()
if(NOT Python3_FOUND)
  list(APPEND needs "Python 3")
endif()

if(needs)
  list(JOIN needs ", " needs)
  foreach(test msvc_dll_imports msvc_dll_imports_tarnbase msvc_dll_imports_pktcore msvc_dll_layout
               msvc_host_imports_documented)
    sapp_add_skipped_test(${test} "${needs} (Debian: llvm-14, python3)")
  endforeach()
  return()
endif()

set(runtime_dlls vcruntime140.dll msvcp140.dll ucrtbase.dll kernel32.dll)
list(JOIN runtime_dlls "," runtime_allowed)
add_test(NAME msvc_dll_imports
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckDll.py imports
                 --readobj ${SAPP_LLVM_READOBJ} --allow ${runtime_allowed},pktcore.dll,tarnbase.dll
                 $<TARGET_FILE:sapp>)
# The stand-in host libraries: the runtime, and for pktcore also tarnbase,
# whose fault switches make pktcore's calls fail (standin/tarnbase/HostFaults.h).
add_test(NAME msvc_dll_imports_tarnbase
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckDll.py imports
                 --readobj ${SAPP_LLVM_READOBJ} --allow ${runtime_allowed} $<TARGET_FILE:tarnbase>)
add_test(NAME msvc_dll_imports_pktcore
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckDll.py imports
                 --readobj ${SAPP_LLVM_READOBJ} --allow ${runtime_allowed},tarnbase.dll $<TARGET_FILE:pktcore>)
add_test(NAME msvc_dll_layout
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckDll.py layout
                 --pdbutil ${SAPP_LLVM_PDBUTIL} --undname ${SAPP_LLVM_UNDNAME}
                 --slots ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/Slots.txt
                 --offsets ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/Offsets.txt
                 sapp.dll=$<TARGET_FILE:sapp> sapp_msvc_layout.dll=$<TARGET_FILE:sapp_msvc_layout>)
add_test(NAME msvc_host_imports_documented
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckDll.py host-imports
                 --readobj ${SAPP_LLVM_READOBJ} --undname ${SAPP_LLVM_UNDNAME}
                 --doc ${PROJECT_SOURCE_DIR}/docs/msvc-host.md $<TARGET_FILE:sapp>)
set_tests_properties(msvc_dll_imports msvc_dll_imports_tarnbase msvc_dll_imports_pktcore msvc_dll_layout
                     msvc_host_imports_documented PROPERTIES LABELS msvc-dll)
