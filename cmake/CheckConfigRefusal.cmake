# The package's refusal of a Windows host of the other toolchain family:
# the config file (sappConfig.cmake.in) is filled in as each Windows
# package's is, read as a host compiled by the other family would read it,
# and must not be found, with one readable sentence that names the package
# to use instead.
#
#   cmake -DTEMPLATE=<sappConfig.cmake.in> -DSCRATCH=<folder> -P CheckConfigRefusal.cmake
file(READ ${TEMPLATE} template)
# The package's own helpers are not needed on the way to the refusal.
string(REPLACE "@PACKAGE_INIT@" "" template "${template}")

function(refusal abi host_variable expected)
  string(REPLACE "@SAPP_ABI@" ${abi} config "${template}")
  set(dir ${SCRATCH}/${abi})
  file(WRITE ${dir}/sappConfig.cmake "${config}")
  set(WIN32 ON)
  set(${host_variable} ON)
  set(CMAKE_CXX_COMPILER_ID Probe)
  set(sapp_FOUND TRUE)
  unset(sapp_NOT_FOUND_MESSAGE)
  include(${dir}/sappConfig.cmake)
  string(REPLACE "DIR" "${dir}" expected "${expected}")
  if(sapp_FOUND)
    message(FATAL_ERROR "the ${abi} package accepts a host with ${host_variable}")
  elseif(NOT "${sapp_NOT_FOUND_MESSAGE}" STREQUAL "${expected}")
    message(FATAL_ERROR "the ${abi} package's refusal reads\n  ${sapp_NOT_FOUND_MESSAGE}\ninstead of\n  ${expected}")
  endif()
  message(STATUS "${abi} package, host with ${host_variable}: ${sapp_NOT_FOUND_MESSAGE}")
endfunction()

refusal(msvc MINGW "this sapp package (DIR) is built for MSVC hosts: Microsoft C++ ABI, MSVC's standard library. \
This project's compiler is Probe; use the sapp-<version>-win64-mingw package with mingw-w64 GCC.")
refusal(mingw MSVC "this sapp package (DIR) is built for mingw-w64 GCC hosts: Itanium C++ ABI, libstdc++. \
This project's compiler is Probe; use the sapp-<version>-win64-msvc package with MSVC.")
