#!/usr/bin/env bash
# Builds and runs the project's test suites.
#
#   scripts/test.sh          everything (CI runs this):
#                              1. the Clang build, instrumented for coverage:
#                                 its whole suite, and the module's line and
#                                 branch coverage must stay at its floor
#                                 (scripts/coverage.sh)
#                              2. the AddressSanitizer + UndefinedBehaviorSanitizer
#                                 build (GCC, Debug, warnings as errors): its
#                                 whole suite and a short soak
#                              3. the bench preset (the release build, GCC,
#                                 warnings as errors), only the targets its
#                                 checks use: the module's instruction counts
#                                 within their budget (bench/budget.sh,
#                                 callgrind), every packet within its cost per
#                                 byte (perf/bound.sh --quick), no shape's cost
#                                 growing faster than its input (perf_growth,
#                                 sapp_host_growth under valgrind), the report
#                                 in Chromium and Firefox, the host calls the
#                                 module makes (clang-query), and the module
#                                 refusing nested host calls (valgrind)
#                              4. that build installed as an integrator gets it:
#                                 its docs' links, its pkg-config file and its
#                                 archive's LICENSE checked, and the hosts of
#                                 examples/ (minimal-host, keep-events) built
#                                 against the install tree and run
#                                 (scripts/minimal-host.sh)
#                              5. fuzz_module and fuzz_cost, 30 s each from their
#                                 corpora; the inputs the cost search found
#                                 costliest counted in instructions
#                                 (perf/bound.sh --programs). Every fuzz target's
#                                 corpus is replayed in every build's suite;
#                                 longer runs: fuzz/run.sh SECONDS
#                              6. the Windows x86-64 cross build with mingw-w64,
#                                 run under Wine (scripts/test-windows.sh)
#                              7. the Windows x86-64 build in the MSVC ABI: clang-cl
#                                 against MSVC's standard library, linked with
#                                 Wine's runtime DLLs, run under Wine
#                                 (preset msvc-wine, scripts/test-msvc-wine.sh)
#   scripts/test.sh linux    1 to 4 only; installs no Wine or cross tools, and
#                            fuzzes nothing
#
# Each whole suite holds the unit tests, the scenario folder played through
# sapp-host, the replay of the fuzz corpora and the export checks. The
# Windows stages also install their build, run the hosts of examples/ and
# the zip package under Wine, and play every scenario against the Linux
# build's traces (scripts/compare-traces.sh, with the bench build's
# sapp-host). The developer build (preset dev) is not built here: the
# sanitizer build compiles the same code with the same compiler and flags,
# sanitizers added, and runs every test it has.
# Each stage prints its time and the run's time so far. Missing Debian
# packages are installed first.
set -euo pipefail
cd "$(dirname "$0")/.."

# stage NAME: ends the stage before it, printing its time, and starts NAME.
stage_name=""
stage_started=$SECONDS
stage() {
  if [ -n "$stage_name" ]; then
    echo "== $stage_name: $((SECONDS - stage_started)) s (run so far: $SECONDS s) =="
  fi
  stage_name="$1"
  stage_started=$SECONDS
  [ -z "$stage_name" ] || echo "== $stage_name =="
}

mode="${1:-all}"
case "$mode" in
  all) scripts/deps.sh windows ;;
  linux) scripts/deps.sh ;;
  *) echo "usage: scripts/test.sh [linux]" >&2; exit 2 ;;
esac

stage "coverage build"
scripts/coverage.sh

stage "asan build"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

# Times are scripts/bench.sh's business; here the release build's tools
# have to compile without a warning, the instruction counts have to stay
# within their budget, the worst-case packets within their cost per byte
# and each shape's cost within its growth. (The tests too compile at -O3
# with `cmake --build --preset release`, where some of GCC's warnings show
# first; CI leaves that whole build out for time.)
stage "bench build: the cost budget, the per-byte bounds, the growth, the report in browsers"
cmake --preset bench
cmake --build --preset bench --target sapp-bench sapp-host sapp_worst_case sapp_reentering_host fuzz_module_replay
bench/budget.sh build/bench
perf/bound.sh --quick build/bench
# The tests that only a native GCC build without sanitizers or coverage
# runs: instruction counts under valgrind, the report page in the browsers
# and the host-call check with the module's virtual calls read by
# clang-query.
ctest --test-dir build/bench --no-tests=error --output-on-failure -j 2 \
  -R '^(perf_growth|sapp_host_growth|sapp_host_calls|sapp_host_report_(chromium|firefox|screenshot))$'

# The release build's shipped library, played by a host that calls into it
# from inside sendRequest, postAppEvent and the log sink's write, under
# valgrind: the module must stop each nested call (module/CMakeLists.txt).
stage "bench build: nested host calls stopped in the release build (valgrind)"
ctest --test-dir build/bench -L reentry --no-tests=error --output-on-failure

stage "installed package: minimal-host (the bench build)"
scripts/minimal-host.sh bench

if [ "$mode" = all ]; then
  # fuzz_cost's costliest inputs are then counted in instructions on the
  # bench build above and held to the module's bound per byte.
  stage "fuzz_module and fuzz_cost (libFuzzer, 30 s each), fuzz_cost's costliest inputs in instructions"
  FUZZ_COST_JUDGE=build/bench fuzz/run.sh 30 module cost

  # The Windows builds' traces are compared with the bench build's.
  export SAPP_LINUX_BUILD=build/bench
  stage "windows build (mingw-w64, under Wine)"
  scripts/test-windows.sh

  # After the mingw-w64 build, so that each build's sapp-host can be shown
  # the other's sapp.dll.
  stage "msvc-wine build (MSVC ABI, MSVC's standard library, Wine's runtime DLLs, under Wine)"
  scripts/test-msvc-wine.sh
fi
stage ""
