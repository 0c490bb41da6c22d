#!/usr/bin/env bash
# Builds and runs every test suite of the project:
#   1. the developer build (Debug, warnings as errors)
#   2. the AddressSanitizer + UndefinedBehaviorSanitizer build
#   3. the Windows x86-64 cross build, run under Wine
# Each build runs its unit tests, the scenario folder through sapp-host and
# the export checks. Missing Debian packages are installed first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh windows

for preset in dev asan; do
  echo "== $preset build =="
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== windows build (under Wine) =="
scripts/test-windows.sh
