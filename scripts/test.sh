#!/usr/bin/env bash
# Builds and runs the project's test suites.
#
#   scripts/test.sh          everything (CI runs this):
#                              1. the developer build (Debug, warnings as errors)
#                              2. the same with Clang
#                              3. the AddressSanitizer + UndefinedBehaviorSanitizer build
#                              4. the fuzz targets, 60 s each from their corpora
#                              5. the Windows x86-64 cross build, run under Wine
#                            and builds (does not run) the benchmark suite
#                            sapp-bench and sapp-host in the bench preset (the
#                            release build, warnings as errors), so that both
#                            keep compiling without a warning at -O3
#   scripts/test.sh linux    the Linux builds 1 to 3 and that release build only;
#                            installs neither the cross compiler nor Wine, and
#                            fuzzes nothing
#
# Each build runs its unit tests, the scenario folder through sapp-host, the
# replay of the fuzz corpora and the export checks (the sanitizer build also
# a short soak); the dev build is then installed, its docs' links, its
# pkg-config file and its archive's LICENSE checked, and
# examples/minimal-host built against the install tree and run
# (scripts/minimal-host.sh; for the Windows build, scripts/test-windows.sh
# does the same under Wine, the zip package included). Missing Debian
# packages are installed first.
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

echo "== installed package: minimal-host =="
scripts/minimal-host.sh dev

# Figures are scripts/bench.sh's business; here the suite only has to build.
echo "== release build: sapp-bench and sapp-host (built, not run) =="
cmake --preset bench
cmake --build --preset bench --target sapp-bench sapp-host

if [ "$mode" = all ]; then
  echo "== fuzz targets (libFuzzer, 60 s each) =="
  fuzz/run.sh 60

  echo "== windows build (under Wine) =="
  scripts/test-windows.sh
fi
