# Test registration shared by every folder.
#
# sapp_add_test(NAME SOURCES src... [ALONE src...] LIBS lib...) builds one GoogleTest
# executable. Natively every test case is its own CTest test; when cross
# compiling each process start is expensive (Wine), so the executable is one
# CTest test run through the emulator.
#
# sapp_add_skipped_test(NAME NEEDS) registers a test that a missing tool
# keeps from running: configure warns and goes on, and the test reports
# itself skipped, naming what it needs.
#
# sapp_test_runs_target(TEST...) marks tests that run a target executable.
# When cross compiling they need the Wine server: the fixture wine_server
# creates the prefix and starts one persistent server before the first of
# them and stops it after the last (scripts/windows-env.sh; nothing when a
# script already manages the server), so that no test process meets a server
# that is shutting down.
enable_testing()

function(sapp_add_skipped_test name needs)
  message(WARNING "${name} needs ${needs}; none found, so the test will report itself skipped")
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "${name} skipped: it needs ${needs}, which configure did not find")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: it needs")
endfunction()

function(sapp_test_runs_target)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED wine_server)
  endif()
endfunction()

if(CMAKE_CROSSCOMPILING)
  add_test(NAME wine_server_start COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/windows-env.sh --server-start)
  add_test(NAME wine_server_stop COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/windows-env.sh --server-stop)
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine_server)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine_server)
  if(NOT TARGET GTest::gmock_main)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    # MSVC ABI: GoogleTest would pick the static runtime (/MT); Wine has
    # only the DLL one, which the rest of the build uses.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
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
  cmake_parse_arguments(ARG "" "" "SOURCES;ALONE;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_ALONE})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  # The test files of one executable compile in unity batches: each file
  # parses GoogleTest's and the standard library's headers, which cost more
  # than most tests' own code, so a batch parses them once. What a test file
  # declares at namespace scope must not clash with its batch mates' (an
  # unnamed namespace is one per batch, not per file). ALONE files compile
  # by themselves: a file that replaces the global operator new and delete
  # must not lend them to its batch mates, where GCC's optimiser pairs the
  # standard library's new with the replaced delete and warns
  # (-Wmismatched-new-delete).
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  if(ARG_ALONE)
    set_source_files_properties(${ARG_ALONE} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    sapp_test_runs_target(${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
