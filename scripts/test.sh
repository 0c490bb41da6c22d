#!/usr/bin/env bash
# Builds and runs the project's test suites.
#
#   scripts/test.sh          everything (CI runs this):
#                              1. the developer build (Debug, warnings as errors)
#                              2. the same with Clang, instrumented for coverage:
#                                 the module's line and branch coverage must stay
#                                 at its floor (scripts/coverage.sh)
#                              3. the AddressSanitizer + UndefinedBehaviorSanitizer build
#                              4. the fuzz targets, 30 s each from their corpora;
#                                 the inputs the cost search found costliest
#                                 counted in instructions (perf/bound.sh --programs)
#                              5. the Windows x86-64 cross build with mingw-w64,
#                                 run under Wine (scripts/test-windows.sh)
#                              6. the Windows x86-64 build in the MSVC ABI: clang-cl
#                                 against MSVC's standard library, linked with
#                                 Wine's runtime DLLs, run under Wine
#                                 (preset msvc-wine, scripts/test-msvc-wine.sh)
#                            and builds the bench preset whole (the release
#                            build and the benchmark suite sapp-bench, tests
#                            included, warnings as errors, so that everything
#                            keeps compiling without a warning at -O3), where
#                            the module's instruction counts must stay within
#                            their budget (bench/budget.sh, callgrind) and
#                            every packet within its cost per byte
#                            (perf/bound.sh --quick)
#   scripts/test.sh linux    1 to 3 and the bench build with its checks only;
#                            installs no Wine or cross tools, and fuzzes nothing
#
# Each build runs its unit tests, the scenario folder through sapp-host, the
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
  ctest --preset "$preset"
done

stage "installed package: minimal-host"
scripts/minimal-host.sh dev

# Times are scripts/bench.sh's business; here the release build has to
# compile whole, its tests included, without a warning (some of GCC's
# warnings appear only at -O3), the instruction counts have to stay within
# their budget and the worst-case packets within their cost per byte.
stage "bench build: the release build whole, the cost budget and the per-byte bounds"
cmake --preset bench
cmake --build --preset bench
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
  stage "fuzz targets (libFuzzer, 30 s each), fuzz_cost's costliest inputs in instructions"
  FUZZ_COST_JUDGE=build/bench fuzz/run.sh 30

  stage "windows build (mingw-w64, under Wine)"
  scripts/test-windows.sh

  # After the mingw-w64 build, so that each build's sapp-host can be shown
  # the other's sapp.dll.
  stage "msvc-wine build (MSVC ABI, MSVC's standard library, Wine's runtime DLLs, under Wine)"
  scripts/test-msvc-wine.sh
fi
stage ""
