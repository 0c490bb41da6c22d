# Preset msvc-wine: the hardening of the binaries the package ships, read
# back from the linked files (the flags are the root CMakeLists.txt's, the
# load configuration the start-up code's, msvc-runtime/startup/Runtime.cc;
# docs/msvc-host.md#hardening):
#
#   msvc_hardening    sapp.dll, pktcore.dll, tarnbase.dll and sapp-host.exe:
#                     ASLR, high-entropy ASLR, DEP, Control Flow Guard, the
#                     EH continuation table, the /GS cookie, the shadow
#                     stack, no section writable and executable or shared,
#                     imports that do not execute (msvc-layout/CheckHardening.py);
#   msvc_hardening_planted
#                     that check's own test: copies of sapp.dll with one
#                     fault planted each, and three DLLs of
#                     msvc-layout/HardeningProbe.cc, each linked with one
#                     flag left out, must each fail exactly the rules their
#                     fault breaks.
#
# CheckHardening.py (Python 3) reads the headers with llvm-readobj (Debian:
# llvm-14, which msvc-runtime/ needs too).
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_FOUND)
  foreach(test msvc_hardening msvc_hardening_planted)
    sapp_add_skipped_test(${test} "Python 3 (Debian: python3)")
  endforeach()
  return()
endif()

# The probes: compiled without /guard:cf but linked with it (the linker then
# writes the flags and a table, and no call is guarded), linked with
# /dynamicbase:no, and linked with /cetcompat:no.
set(probe_source ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/HardeningProbe.cc)
add_library(sapp_hardening_probe_unguarded SHARED ${probe_source})
target_compile_options(sapp_hardening_probe_unguarded PRIVATE /guard:cf-)
add_library(sapp_hardening_probe_fixed SHARED ${probe_source})
target_link_options(sapp_hardening_probe_fixed PRIVATE /dynamicbase:no)
add_library(sapp_hardening_probe_no_cet SHARED ${probe_source})
target_link_options(sapp_hardening_probe_no_cet PRIVATE /cetcompat:no)

set(check ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckHardening.py)
add_test(NAME msvc_hardening
         COMMAND ${check} check --readobj ${SAPP_LLVM_READOBJ}
                 $<TARGET_FILE:sapp> $<TARGET_FILE:pktcore> $<TARGET_FILE:tarnbase> $<TARGET_FILE:sapp-host>)
add_test(NAME msvc_hardening_planted
         COMMAND ${check} planted --readobj ${SAPP_LLVM_READOBJ} --scratch ${PROJECT_BINARY_DIR}/hardening-planted
                 $<TARGET_FILE:sapp>
                 $<TARGET_FILE:sapp_hardening_probe_unguarded>=ControlFlowGuard
                 $<TARGET_FILE:sapp_hardening_probe_fixed>=ASLR
                 $<TARGET_FILE:sapp_hardening_probe_no_cet>=ShadowStack)
set_tests_properties(msvc_hardening msvc_hardening_planted PROPERTIES LABELS msvc-dll)
