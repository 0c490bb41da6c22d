#!/usr/bin/env bash
# Builds the Windows x86-64 preset (mingw-w64 cross build) and runs its whole
# test suite under Wine, then installs it, runs the hosts of examples/
# (minimal-host, keep-events) against the install tree under Wine and makes
# build/windows/sapp-<version>-win64-mingw.zip.
# Installs the cross compiler, Wine and the cross build's zlib when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh windows

started=$SECONDS
# shellcheck source=scripts/windows-env.sh
source scripts/windows-env.sh
finish() {
    sapp_wine_server_stop
}
# One persistent Wine server serves every Wine process of this run (CTest,
# the trace comparison, sapp-host check's children); it is stopped however
# the run ends.
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
sapp_wine_server_start
export SAPP_WINESERVER_MANAGED=1
echo "test-windows: Wine prefix and server ready ($((SECONDS - started)) s)" >&2

cmake --preset windows
cmake --build --preset windows
sapp_wine_ctest windows

# The package as integrators get it: a fresh install, the example host built
# against it (with CMake and with pkg-config's flags) and run under Wine,
# and the zip of the install tree.
scripts/minimal-host.sh windows "$SAPP_WINE64"

# The Linux and Windows modules must leave the same trace in every scenario
# (scripts/compare-traces.sh).
scripts/compare-traces.sh build/windows/bin/sapp-host.exe

echo "test-windows: done in $((SECONDS - started)) s" >&2
