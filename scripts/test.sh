#!/usr/bin/env bash
# Builds and runs the project's test suites.
#
#   scripts/test.sh          everything (CI runs this):
#                              1. the developer build (Debug, warnings as errors)
#                              2. the same with Clang, instrumented for coverage:
#                                 the module's line and branch coverage must stay
#                                 at its floor (scripts/coverage.sh)
#                              3. the AddressSanitizer + UndefinedBehaviorSanitizer build
#                              4. fuzz_module and fuzz_cost, 30 s each from their
#                                 corpora; the inputs the cost search found
#                                 costliest counted in instructions
#                                 (perf/bound.sh --programs). Every fuzz target's
#                                 corpus is replayed in every build's suite;
#                                 longer runs: fuzz/run.sh SECONDS
#                              5. the Windows x86-64 cross build with mingw-w64,
#                                 run under Wine (scripts/test-windows.sh)
#                              6. the Windows x86-64 build in the MSVC ABI: clang-cl
#                                 against MSVC's standard library, linked with
#                                 Wine's runtime DLLs, run under Wine
#                                 (preset msvc-wine, scripts/test-msvc-wine.sh)
#                            and builds, in the bench preset (the release
#                            build, warnings as errors), sapp-bench, sapp-host,
#                            sapp_worst_case and the hosts of the checks below,
#                            where the module's instruction counts must stay within
#                            their budget (bench/budget.sh, callgrind) and
#                            every packet within its cost per byte
#                            (perf/bound.sh --quick)
#   scripts/test.sh linux    1 to 3 and the bench build with its checks only;
#                            installs no Wine or cross tools, and fuzzes nothing
#
# Each build runs its unit tests (the dev build only those the others do not
# run: growth under valgrind, the report in the browsers), the scenario
# folder through sapp-host, the
# replay of the fuzz corpora and the export checks (the sanitizer build also
# a short soak); the dev build is then installed, its docs' links, its
# pkg-config file and its archive's LICENSE checked, and the hosts of
# examples/ (minimal-host, keep-events) built against the install tree and
# run (scripts/minimal-host.sh; for the Windows builds, scripts/test-windows.sh
# and scripts/test-msvc-wine.sh do the same under Wine, the zip package
# included, and play every scenario against the Linux build's traces).
# Each stage reports its time. Missing Debian packages are installed first.
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

# The coverage build is the clang build with coverage instrumentation: its
# suite is the Clang run, and the coverage costs little on top.
for preset in dev coverage asan; do
  stage "$preset build"
  if [ "$preset" = coverage ]; then
    scripts/coverage.sh
    continue
  fi
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  if [ "$preset" = dev ]; then
    # The sanitizer build and the coverage build run every test they share
    # with this one; here run only those they cannot: the valgrind growth
    # counts and the report in the browsers.
    ctest --preset dev -R '^(perf_growth|sapp_host_growth|sapp_host_report_(chromium|firefox|screenshot))$'
  else
    ctest --preset "$preset"
  fi
done

stage "installed package: minimal-host"
scripts/minimal-host.sh dev

# Times are scripts/bench.sh's business; here the release build's tools
# have to compile without a warning, the instruction counts have to stay
# within their budget and the worst-case packets within their cost per
# byte. (Its tests too compile at -O3 with `cmake --build --preset
# release`, where some of GCC's warnings show first; CI leaves that whole
# build out for time.)
stage "bench build: the cost budget and the per-byte bounds"
cmake --preset bench
cmake --build --preset bench --target sapp-bench sapp-host sapp_worst_case sapp_reentering_host fuzz_module_replay
bench/budget.sh build/bench
perf/bound.sh --quick build/bench

# The release build's shipped library, played by a host that calls into it
# from inside sendRequest, postAppEvent and the log sink's write, under
# valgrind: the module must stop each nested call (module/CMakeLists.txt).
stage "bench build: nested host calls stopped in the release build (valgrind)"
ctest --test-dir build/bench -L reentry --no-tests=error --output-on-failure

if [ "$mode" = all ]; then
  # fuzz_cost's costliest inputs are then counted in instructions on the
  # bench build above and held to the module's bound per byte.
  stage "fuzz_module and fuzz_cost (libFuzzer, 30 s each), fuzz_cost's costliest inputs in instructions"
  FUZZ_COST_JUDGE=build/bench fuzz/run.sh 30 module cost

  stage "windows build (mingw-w64, under Wine)"
  scripts/test-windows.sh

  # After the mingw-w64 build, so that each build's sapp-host can be shown
  # the other's sapp.dll.
  stage "msvc-wine build (MSVC ABI, MSVC's standard library, Wine's runtime DLLs, under Wine)"
  scripts/test-msvc-wine.sh
fi
stage ""
