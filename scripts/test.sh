#!/usr/bin/env bash
# Builds and runs the project's test suites.
#
#   scripts/test.sh          everything (CI runs this):
#                              1. the developer build (Debug, warnings as errors)
#                              2. the same with Clang
#                              3. the AddressSanitizer + UndefinedBehaviorSanitizer build
#                              4. the module compiled for the MSVC target by
#                                 clang-cl, its exports and virtual tables checked
#                                 in the objects (preset msvc-target; no link)
#                              5. the fuzz targets, 60 s each from their corpora
#                              6. the Windows x86-64 cross build, run under Wine
#                            and builds (does not run) the benchmark suite
#                            sapp-bench of the release build, so it keeps compiling
#   scripts/test.sh linux    1 to 4 and sapp-bench only; installs no Wine (the
#                            cross compiler, yes: step 4 uses mingw-w64's
#                            headers), and fuzzes nothing
#
# Each build runs its unit tests, the scenario folder through sapp-host, the
# replay of the fuzz corpora and the export checks (the sanitizer build also
# a short soak); the dev build is then installed and
# examples/minimal-host built against the install tree and run (for the
# Windows build, scripts/test-windows.sh does the same under Wine and makes
# the zip package). Missing Debian packages are installed first.
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-all}"
case "$mode" in
  all) scripts/deps.sh windows ;;
  linux) scripts/deps.sh ;;
  *) echo "usage: scripts/test.sh [linux]" >&2; exit 2 ;;
esac

for preset in dev clang asan; do
  echo "== $preset build =="
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== msvc-target: compiled for MSVC by clang-cl, objects checked, not linked =="
cmake --preset msvc-target
cmake --build --preset msvc-target
ctest --preset msvc-target

echo "== installed package: minimal-host =="
scripts/minimal-host.sh dev

# Figures are scripts/bench.sh's business; here the suite only has to build.
echo "== release build: sapp-bench (built, not run) =="
cmake --preset release
cmake --build --preset release --target sapp-bench

if [ "$mode" = all ]; then
  echo "== fuzz targets (libFuzzer, 60 s each) =="
  fuzz/run.sh 60

  echo "== windows build (under Wine) =="
  scripts/test-windows.sh
fi
