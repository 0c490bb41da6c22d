# Windows builds (presets windows, msvc-wine, windows-msvc): a version
# resource (VERSIONINFO) in every DLL and EXE the package ships, which
# Explorer's Details tab, GetFileVersionInfo and installers read.
#
#   FILEVERSION, PRODUCTVERSION  the project's version, project(VERSION) in
#                                the root CMakeLists.txt: 0.1.0 is 0,1,0,0
#   FileVersion, ProductVersion  the same as text, "0.1.0"
#   ProductName                  sapp
#   FileDescription              what the binary is (the table below)
#   InternalName                 the target's name
#   OriginalFilename             the file's name as built (sapp.dll)
#   CompanyName, LegalCopyright  the project's authors and its licence (LICENSE)
#   Comments                     the toolchain family a host must share
#                                (docs/abi.md#telling-the-builds-apart)
#
# The resource script of each binary is generated from VersionInfo.rc.in
# into the build tree; the RC language compiles it (llvm-rc in msvc-wine,
# windres in windows, rc with Visual Studio) and the linker embeds it. The
# test version_resource reads every one back from the linked binaries
# (CheckVersionInfo.py).
if(NOT WIN32)
  return()
endif()

set(SAPP_COMPANY "The sapp authors")
set(SAPP_LEGAL_COPYRIGHT "Copyright The sapp authors. Licensed under the Apache License, Version 2.0.")

# target=FileDescription, one per shipped binary.
set(SAPP_VERSION_RESOURCES
  "sapp=sapp session-application module"
  "pktcore=sapp stand-in host protocol library (pktcore)"
  "tarnbase=sapp stand-in host base library (tarnbase)"
  "sapp-host=sapp-host, the command-line host of the sapp module")

if(MSVC)
  set(SAPP_RC_COMMENTS "Toolchain family msvc: for hosts built with MSVC (Microsoft C++ ABI, MSVC's standard library)")
else()
  set(SAPP_RC_COMMENTS "Toolchain family mingw: for hosts built with mingw-w64 GCC (Itanium C++ ABI, libstdc++)")
endif()

# FILEVERSION's four numbers: major, minor, patch, tweak (0 where not given).
set(SAPP_RC_VERSION_COMMAS "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND SAPP_RC_VERSION_COMMAS ${number})
endforeach()
list(JOIN SAPP_RC_VERSION_COMMAS "," SAPP_RC_VERSION_COMMAS)

set(checked "")
foreach(entry IN LISTS SAPP_VERSION_RESOURCES)
  string(FIND "${entry}" "=" split)
  string(SUBSTRING "${entry}" 0 ${split} SAPP_RC_TARGET)
  math(EXPR split "${split} + 1")
  string(SUBSTRING "${entry}" ${split} -1 SAPP_RC_DESCRIPTION)
  get_target_property(type ${SAPP_RC_TARGET} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(SAPP_RC_FILETYPE 0x1)
  else()
    set(SAPP_RC_FILETYPE 0x2)
  endif()
  set(script ${PROJECT_BINARY_DIR}/version-resources/${SAPP_RC_TARGET}.rc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/VersionInfo.rc.in ${script}.in @ONLY)
  # The file name is the target's, as the generator names it.
  file(GENERATE OUTPUT ${script} INPUT ${script}.in)
  target_sources(${SAPP_RC_TARGET} PRIVATE ${script})
  list(APPEND checked "$<TARGET_FILE:${SAPP_RC_TARGET}>=${SAPP_RC_FILETYPE}=${SAPP_RC_TARGET}=${SAPP_RC_DESCRIPTION}")
endforeach()

find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_FOUND)
  sapp_add_skipped_test(version_resource "Python 3 (Debian: python3)")
  return()
endif()
set(check ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/CheckVersionInfo.py
          --product ${PROJECT_NAME} --company ${SAPP_COMPANY} --copyright ${SAPP_LEGAL_COPYRIGHT}
          --comments ${SAPP_RC_COMMENTS})
add_test(NAME version_resource COMMAND ${check} --version ${PROJECT_VERSION} ${checked})
# The check's own test: a version the binaries do not carry, and a binary
# without a version resource (a test executable), must each be reported.
math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
set(other_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${next_patch})
list(GET checked 0 first)
add_test(NAME version_resource_planted_version COMMAND ${check} --version ${other_version} ${first})
string(REPLACE "." "\\." found_regex "${PROJECT_VERSION}.0, expected ${other_version}.0")
set_tests_properties(version_resource_planted_version PROPERTIES
                     PASS_REGULAR_EXPRESSION "FILEVERSION is ${found_regex}")
add_test(NAME version_resource_planted_missing
         COMMAND ${check} --version ${PROJECT_VERSION} "$<TARGET_FILE:module_tests>=0x1=module_tests=none")
set_tests_properties(version_resource_planted_missing PROPERTIES
                     PASS_REGULAR_EXPRESSION "module_tests[.]exe: no version resource")
