#!/usr/bin/env bash
# Builds the Windows x86-64 preset (mingw-w64 cross build) and runs its whole
# test suite under Wine, then installs it, runs examples/minimal-host against
# the install tree under Wine and makes build/windows/sapp-<version>-win64.zip.
# Installs the cross compiler, Wine and the cross build's zlib when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh windows

started=$SECONDS
# shellcheck source=scripts/windows-env.sh
source scripts/windows-env.sh
traces=""
finish() {
    [ -z "$traces" ] || rm -rf "$traces"
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
ctest --preset windows

# The package as integrators get it: a fresh install, the example host built
# against it (with CMake and with pkg-config's flags) and run under Wine,
# and the zip of the install tree.
scripts/minimal-host.sh windows "$SAPP_WINE64"

# The Linux and Windows modules must leave the same trace in every scenario,
# except for the module's own file name in log lines. Compared when a Linux
# build of sapp-host exists (scripts/test.sh builds it first).
linux_host="${SAPP_LINUX_BUILD:-build/dev}/bin/sapp-host"
if [ -x "$linux_host" ]; then
    traces=$(mktemp -d)
    # A failing run still leaves its trace to compare; its checks are ctest's.
    # The Wine runs go two at a time, each costs a process start.
    for scenario in builtin scenarios/*.json; do
        args=(run --json)
        [ "$scenario" = builtin ] || args=(run "$scenario" --json)
        name=$(basename "$scenario" .json)
        "$linux_host" "${args[@]}" >"$traces/$name.linux" 2>&1 || true
        "$SAPP_WINE64" build/windows/bin/sapp-host.exe "${args[@]}" >"$traces/$name.windows" 2>&1 &
        [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n || true
    done
    wait || true
    same_module='s/\r$//; s/"module":"\(libsapp\.so\|sapp\.dll\)"/"module":"<module>"/g'
    differing=0
    for linux_trace in "$traces"/*.linux; do
        name=$(basename "$linux_trace" .linux)
        if ! diff <(sed "$same_module" "$linux_trace") <(sed "$same_module" "$traces/$name.windows") \
                >"$traces/$name.diff"; then
            echo "test-windows: Linux and Windows traces differ for $name:" >&2
            head -20 "$traces/$name.diff" >&2
            differing=$((differing + 1))
        fi
    done
    if [ "$differing" -gt 0 ]; then
        echo "test-windows: $differing scenario traces differ between Linux and Windows" >&2
        exit 1
    fi
    echo "test-windows: Linux and Windows traces agree on every scenario" >&2

    # Golden traces: a scenario recorded on Linux passes check under Wine, and
    # recording it again there gives the same file.
    mkdir "$traces/recorded"
    for scenario in scenarios/*.json; do
        name=$(basename "$scenario")
        # A failure leaves a file missing, which the comparison reports.
        "$linux_host" record "$scenario" -o "$traces/recorded/$name" 2>/dev/null || true
        "$SAPP_WINE64" build/windows/bin/sapp-host.exe record "$traces/recorded/$name" \
            -o "$traces/$name.windows-record" 2>/dev/null &
        [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n || true
    done
    wait || true
    for recorded in "$traces"/recorded/*.json; do
        name=$(basename "$recorded")
        if ! cmp -s "$recorded" "$traces/$name.windows-record"; then
            echo "test-windows: recording $name again under Wine changes it:" >&2
            diff "$recorded" "$traces/$name.windows-record" | head -20 >&2 || true
            differing=$((differing + 1))
        fi
    done
    "$SAPP_WINE64" build/windows/bin/sapp-host.exe check "$traces/recorded" >"$traces/recorded.check" ||
        { cat "$traces/recorded.check" >&2; differing=$((differing + 1)); }
    if [ "$differing" -gt 0 ]; then
        echo "test-windows: scenarios recorded on Linux do not hold under Wine" >&2
        exit 1
    fi
    echo "test-windows: scenarios recorded on Linux pass and record identically under Wine" >&2
else
    echo "test-windows: no Linux sapp-host at $linux_host; traces not compared" >&2
fi
echo "test-windows: done in $((SECONDS - started)) s" >&2
