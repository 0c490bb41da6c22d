#!/usr/bin/env bash
# Plays every scenario through a Windows build of sapp-host under Wine and
# through the Linux build, and fails unless the traces agree.
#
#   scripts/compare-traces.sh WINDOWS_SAPP_HOST_EXE
#
# Run inside a Wine server's lifetime with the Wine environment set, as
# scripts/test-windows.sh (mingw-w64 build) and scripts/test-msvc-wine.sh
# (MSVC-ABI build) call it. The Linux sapp-host is ${SAPP_LINUX_BUILD:-build/dev}/bin/sapp-host;
# without one (scripts/test.sh builds it first) nothing is compared and the
# script says so.
#
#   - the built-in session and every scenario of scenarios/ played with
#     `run --json` leave the same trace on both, but for the module's own
#     file name (libsapp.so, sapp.dll) in log lines and line ends;
#   - every scenario recorded on Linux (`record`) passes `check` under Wine,
#     and recording it again there gives the same file, byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_host="${1:?usage: scripts/compare-traces.sh WINDOWS_SAPP_HOST_EXE}"
[ -e "$windows_host" ] || { echo "compare-traces: no $windows_host" >&2; exit 1; }
: "${SAPP_WINE64:?compare-traces: run with the Wine environment of scripts/windows-env.sh}"
name_of_build=$(basename "$(dirname "$(dirname "$windows_host")")")

linux_host="${SAPP_LINUX_BUILD:-build/dev}/bin/sapp-host"
if [ ! -x "$linux_host" ]; then
    echo "compare-traces: no Linux sapp-host at $linux_host; traces not compared" >&2
    exit 0
fi

traces=$(mktemp -d)
trap 'rm -rf "$traces"' EXIT

# A failing run still leaves its trace to compare; its checks are ctest's.
# The Wine runs go two at a time, each costs a process start.
for scenario in builtin scenarios/*.json; do
    args=(run --json)
    [ "$scenario" = builtin ] || args=(run "$scenario" --json)
    name=$(basename "$scenario" .json)
    "$linux_host" "${args[@]}" >"$traces/$name.linux" 2>&1 || true
    "$SAPP_WINE64" "$windows_host" "${args[@]}" >"$traces/$name.windows" 2>&1 &
    [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n || true
done
wait || true
same_module='s/\r$//; s/"module":"\(libsapp\.so\|sapp\.dll\)"/"module":"<module>"/g'
differing=0
compared=0
for linux_trace in "$traces"/*.linux; do
    name=$(basename "$linux_trace" .linux)
    compared=$((compared + 1))
    if ! diff <(sed "$same_module" "$linux_trace") <(sed "$same_module" "$traces/$name.windows") \
            >"$traces/$name.diff"; then
        echo "compare-traces ($name_of_build): Linux and Windows traces differ for $name:" >&2
        head -20 "$traces/$name.diff" >&2
        differing=$((differing + 1))
    fi
done
if [ "$differing" -gt 0 ]; then
    echo "compare-traces ($name_of_build): $differing of $compared scenario traces differ between Linux and Windows" >&2
    exit 1
fi
echo "compare-traces ($name_of_build): Linux and Windows traces agree on all $compared scenarios" >&2

# Golden traces: a scenario recorded on Linux passes check under Wine, and
# recording it again there gives the same file.
mkdir "$traces/recorded"
for scenario in scenarios/*.json; do
    name=$(basename "$scenario")
    # A failure leaves a file missing, which the comparison reports.
    "$linux_host" record "$scenario" -o "$traces/recorded/$name" 2>/dev/null || true
    "$SAPP_WINE64" "$windows_host" record "$traces/recorded/$name" -o "$traces/$name.windows-record" 2>/dev/null &
    [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n || true
done
wait || true
for recorded in "$traces"/recorded/*.json; do
    name=$(basename "$recorded")
    if ! cmp -s "$recorded" "$traces/$name.windows-record"; then
        echo "compare-traces ($name_of_build): recording $name again under Wine changes it:" >&2
        diff "$recorded" "$traces/$name.windows-record" | head -20 >&2 || true
        differing=$((differing + 1))
    fi
done
"$SAPP_WINE64" "$windows_host" check "$traces/recorded" >"$traces/recorded.check" ||
    { cat "$traces/recorded.check" >&2; differing=$((differing + 1)); }
if [ "$differing" -gt 0 ]; then
    echo "compare-traces ($name_of_build): scenarios recorded on Linux do not hold under Wine" >&2
    exit 1
fi
echo "compare-traces ($name_of_build): scenarios recorded on Linux pass and record identically under Wine" >&2
