# The msvc-target preset (toolchain cmake/msvc-target.cmake): clang-cl
# compiles for x86_64-pc-windows-msvc under the MSVC branch's flags, and
# nothing is linked. Its build preset builds two object libraries:
#
#   sapp_msvc_module  every source of sapp.dll (sapp_core, sapp_protocol),
#                     compiled as the module (SAPP_BUILD);
#   sapp_msvc_host    every header a host includes (the installed headers,
#                     one translation unit each) and cmake/msvc-layout/
#                     Layout.cc, the host's interfaces implemented, compiled
#                     as a host.
#
# and its tests (label msvc-target) read the objects:
#
#   msvc_target_exports  the export directives of the module's objects are
#                        the msvc: names of module/sapp.exports, each defined;
#   msvc_target_slots    the virtual tables in both sets of objects hold the
#                        slots cmake/msvc-layout/Slots.txt lists (the MSVC
#                        column of docs/abi.md).
#
# The record offsets are static_asserts in the headers, so they hold for
# Microsoft layout rules once these objects compile.

# The sources of a target as absolute paths.
function(sapp_absolute_sources target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(result "")
  foreach(source IN LISTS sources)
    get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${dir}")
    list(APPEND result "${source}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

sapp_absolute_sources(sapp_core core_sources)
sapp_absolute_sources(sapp_protocol protocol_sources)
add_library(sapp_msvc_module OBJECT ${core_sources} ${protocol_sources})
target_compile_definitions(sapp_msvc_module PRIVATE SAPP_BUILD)
target_link_libraries(sapp_msvc_module PRIVATE sapp_headers)

# One translation unit per installed header (SAPP_INSTALL_HEADERS of
# cmake/SappInstall.cmake, folders expanded as the install rule does).
set(header_sources "")
foreach(entry IN LISTS SAPP_INSTALL_HEADERS)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${entry})
    file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${entry}/*.h)
    list(FILTER headers EXCLUDE REGEX "(Test\\.h|/test_[^/]*\\.h)$")
  elseif(EXISTS ${PROJECT_SOURCE_DIR}/${entry})
    set(headers ${entry})
  else()
    set(headers "")
  endif()
  foreach(header IN LISTS headers)
    string(MAKE_C_IDENTIFIER "${header}" name)
    set(source ${PROJECT_BINARY_DIR}/msvc-target/headers/${name}.cc)
    file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${header}\"\n")
    list(APPEND header_sources ${source})
  endforeach()
endforeach()
add_library(sapp_msvc_host OBJECT ${header_sources} ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/Layout.cc)
target_link_libraries(sapp_msvc_host PRIVATE sapp_headers)

set(object_lists "")
foreach(library sapp_msvc_module sapp_msvc_host)
  set(list_file ${PROJECT_BINARY_DIR}/msvc-target/${library}.objects)
  file(GENERATE OUTPUT ${list_file} CONTENT "$<JOIN:$<TARGET_OBJECTS:${library}>,\n>\n")
  list(APPEND object_lists ${list_file})
endforeach()

# The readers, from LLVM (Debian: llvm-14).
set(needs "")
foreach(tool llvm-readobj llvm-objdump llvm-nm llvm-undname)
  string(MAKE_C_IDENTIFIER "SAPP_${tool}" variable)
  string(TOUPPER "${variable}" variable)
  find_program(${variable} NAMES ${tool}-14 ${tool})
  if(NOT ${variable})
    list(APPEND needs ${tool})
  endif()
endforeach()

if(needs)
  list(JOIN needs ", " needs)
  foreach(test msvc_target_exports msvc_target_slots)
    sapp_add_skipped_test(${test} "${needs} (Debian: llvm-14)")
  endforeach()
else()
  add_test(NAME msvc_target_exports
           COMMAND ${CMAKE_COMMAND}
                   -DLIBRARY=${PROJECT_BINARY_DIR}/msvc-target/sapp_msvc_module.objects
                   -DCOLUMN=msvc -DREADER=objects -DTOOL=${SAPP_LLVM_READOBJ} -DNM=${SAPP_LLVM_NM}
                   -DEXPECTED=${PROJECT_SOURCE_DIR}/module/sapp.exports -DDEMANGLER=${SAPP_LLVM_UNDNAME}
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
  add_test(NAME msvc_target_slots
           COMMAND ${CMAKE_COMMAND} "-DOBJECT_LISTS=${object_lists}"
                   -DOBJDUMP=${SAPP_LLVM_OBJDUMP} -DREADOBJ=${SAPP_LLVM_READOBJ} -DUNDNAME=${SAPP_LLVM_UNDNAME}
                   -DEXPECTED=${PROJECT_SOURCE_DIR}/cmake/msvc-layout/Slots.txt
                   -P ${PROJECT_SOURCE_DIR}/cmake/msvc-layout/CheckSlots.cmake)
endif()
set_tests_properties(msvc_target_exports msvc_target_slots PROPERTIES LABELS msvc-target)
