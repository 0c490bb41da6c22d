#!/usr/bin/env bash
# How CTest runs the Windows builds' test executables (the emulator of the
# toolchain files, cmake/WineEmulator.cmake):
#
#   scripts/wine-run.sh WINE EXE [ARGS...]
#
# runs EXE under WINE, passes its output through and ends with its status.
#
# One failure is not the program's: Wine can fail to start a process at all,
# and then the process ends with a failure status before it has written a
# single byte (a DLL that does not load, for instance, ends it with status 53
# and no word, because Wine's messages are off). Every executable CTest runs
# writes something once its own code runs (GoogleTest's banner, sapp-host's
# usage or trace), so a silent failure is that case, and the executable is
# started once more. The second outcome is final. Each restart is said on
# standard error and, when SAPP_WINE_RETRY_LOG names a file, appended there:
# sapp_wine_ctest (scripts/windows-env.sh), which scripts/test-windows.sh and
# scripts/test-msvc-wine.sh run their suites with, names that file and reports
# every restart after the suite. A restart is never silent, and a second
# silent failure still fails the test.
#
# Standard error is merged into standard output, as CTest merges them anyway.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: scripts/wine-run.sh WINE EXE [ARGS...]" >&2
    exit 2
fi
wine=$1
shift

output=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
trap 'rm -f "$output"' EXIT

attempt=1
while :; do
    "$wine" "$@" 2>&1 | tee "$output"
    status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$attempt" -ge 2 ]; then
        exit "$status"
    fi
    message="wine-run: $(basename "$1") ended with status $status before writing anything (Wine did not start it); starting it once more"
    echo "$message" >&2
    if [ -n "${SAPP_WINE_RETRY_LOG:-}" ]; then
        echo "$message" >>"$SAPP_WINE_RETRY_LOG"
    fi
    attempt=$((attempt + 1))
done
