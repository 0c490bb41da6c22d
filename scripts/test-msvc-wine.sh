#!/usr/bin/env bash
# The MSVC-ABI build (preset msvc-wine): builds the module, the stand-in host
# libraries, sapp-host, the test suites and the layout probe with clang-cl
# against MSVC's standard library and Wine's runtime DLLs, and runs under
# Wine:
#   - its whole test suite (ctest --preset msvc-wine: the unit tests, the
#     scenario folder through sapp-host.exe, the corpus replays, the exports,
#     imports, virtual tables and record layouts of the linked DLLs, the
#     public headers after <windows.h>);
#   - the package: installed, the hosts of examples/ (minimal-host,
#     keep-events) built against it and run (their output must be their
#     READMEs'), zipped (scripts/minimal-host.sh);
#     the zip, unpacked, holds every file a Windows engineer expects, each
#     binary's PDB is the one linked with it, and known functions map back
#     to their source lines through those PDBs (cmake/msvc-layout/CheckPackage.py);
#   - every scenario through sapp-host.exe against the Linux build's traces
#     (scripts/compare-traces.sh);
#   - when the mingw-w64 build (preset windows) is there too: each build's
#     sapp-host refuses the other's sapp.dll, saying why.
# Installs the cross tools and Wine when missing (scripts/deps.sh windows).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh windows

started=$SECONDS
# shellcheck source=scripts/windows-env.sh
source scripts/windows-env.sh
# One persistent Wine server for every Wine process of this run, stopped
# however the run ends (scripts/windows-env.sh says why).
trap sapp_wine_server_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
sapp_wine_server_start
export SAPP_WINESERVER_MANAGED=1

cmake --preset msvc-wine
cmake --build --preset msvc-wine
sapp_wine_ctest msvc-wine

scripts/minimal-host.sh msvc-wine "$SAPP_WINE64"
python3 cmake/msvc-layout/CheckPackage.py --source . build/msvc-wine/sapp-*-win64-msvc.zip
scripts/compare-traces.sh build/msvc-wine/bin/sapp-host.exe

# A host of one toolchain family given the other's module: a clear refusal
# (exit status 2, "no module"), never a crash or a run.
refuses() {
    local host="$1" module="$2" output status=0
    output=$("$SAPP_WINE64" "$host" --module "$module" run 2>&1) || status=$?
    if [ "$status" -ne 2 ] || ! grep -q "a host can only use a module of its own toolchain family" <<<"$output"; then
        echo "test-msvc-wine: $host with $module exited $status:" >&2
        printf '%s\n' "$output" | head -5 >&2
        exit 1
    fi
}
if [ -e build/windows/bin/sapp.dll ] && [ -e build/windows/bin/sapp-host.exe ]; then
    refuses build/msvc-wine/bin/sapp-host.exe build/windows/bin/sapp.dll
    refuses build/windows/bin/sapp-host.exe build/msvc-wine/bin/sapp.dll
    echo "test-msvc-wine: each sapp-host refuses the other toolchain family's sapp.dll" >&2
else
    echo "test-msvc-wine: no mingw-w64 build (preset windows) to cross-check the module families" >&2
fi
echo "test-msvc-wine: done in $((SECONDS - started)) s" >&2
