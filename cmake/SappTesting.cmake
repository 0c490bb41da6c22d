# Test registration shared by every folder.
#
# sapp_add_test(NAME SOURCES src... LIBS lib...) builds one GoogleTest
# executable. Natively every test case is its own CTest test; when cross
# compiling each process start is expensive (Wine), so the executable is one
# CTest test run through the emulator.
enable_testing()

if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET GTest::gmock_main)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Recent googletest builds define the GTest:: names themselves.
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  endif()
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(sapp_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
