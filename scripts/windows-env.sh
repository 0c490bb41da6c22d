#!/usr/bin/env bash
# Wine environment for running the Windows build's executables.
#
#   scripts/windows-env.sh CMD [ARGS...]
#       runs CMD with the Wine variables set and one persistent Wine server
#       for the prefix, e.g.
#           scripts/windows-env.sh ctest --preset windows
#           scripts/windows-env.sh ctest --test-dir build/windows -R pack_test
#       The server is stopped when CMD ends, also on failure or Ctrl-C; the
#       exit status is CMD's.
#   scripts/windows-env.sh
#       only creates the prefix.
#   source scripts/windows-env.sh
#       exports the variables and defines the functions below; the caller
#       starts and stops the server (see scripts/test-windows.sh).
#   scripts/windows-env.sh --server-start | --server-stop
#       the CTest fixture of the windows preset (see cmake/SappTesting.cmake):
#       the same as sapp_wine_server_start / _stop, unless a script already
#       manages the server (SAPP_WINESERVER_MANAGED=1), then nothing.
#
# Why one persistent server: a Wine server quits a few seconds after its last
# client. CTest starts test processes in parallel and one after the other, so
# a new process can meet a server that is shutting down and die with
# "recvmsg: Connection reset by peer". A server started with -p never quits
# on its own; it is killed (and waited for) when the run ends.
#
# The prefix (build/wine-prefix, the same path the `windows` test preset
# uses) is created once, completely, before anything runs in it. Nothing
# prompts: the Mono and Gecko installers are disabled and Wine's debug output
# is off. The locale is pinned because Wine derives the ANSI code page
# (CP_ACP) from it: C.UTF-8 gives 1252 on every machine.

sapp_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$sapp_root/build/wine-prefix}"
export WINEDEBUG=-all
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
SAPP_WINE64=/usr/lib/wine/wine64
SAPP_WINESERVER=/usr/lib/wine/wineserver
export SAPP_WINE64 SAPP_WINESERVER

# Creates the prefix unless a complete one exists.
sapp_wine_prefix() {
    local ready="$WINEPREFIX/.sapp-ready"
    [ -e "$ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        # One initialisation at a time, also across concurrent callers.
        flock 9
        [ -e "$ready" ] && exit 0
        "$SAPP_WINESERVER" -k >/dev/null 2>&1 || true
        "$SAPP_WINESERVER" -w >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
        echo "windows-env: creating Wine prefix $WINEPREFIX" >&2
        "$SAPP_WINE64" wineboot --init </dev/null >/dev/null 2>&1 || true
        # wineboot's own server must be gone before a persistent one starts.
        "$SAPP_WINESERVER" -w
        [ -e "$WINEPREFIX/system.reg" ] || { echo "windows-env: wineboot failed" >&2; exit 1; }
        touch "$ready"
    ) 9>"$WINEPREFIX.lock"
}

# Makes sure the prefix exists and a persistent server runs for it. A server
# already running for this prefix (left by an interrupted run, or one that is
# about to quit) is replaced: the prefix belongs to this build tree.
sapp_wine_server_start() {
    sapp_wine_prefix || return 1
    "$SAPP_WINESERVER" -k >/dev/null 2>&1 || true
    "$SAPP_WINESERVER" -w >/dev/null 2>&1 || true
    # The server outlives this call: it must not hold the caller's output
    # open (CTest waits for a test's output to close).
    if ! "$SAPP_WINESERVER" -p </dev/null >/dev/null 2>&1; then
        echo "windows-env: cannot start a persistent Wine server for $WINEPREFIX" >&2
        return 1
    fi
    # Bring up Wine's own background processes (services, explorer, ...) now,
    # with no output attached: otherwise the first test process starts them,
    # they inherit its output and, living as long as the server, keep it open.
    "$SAPP_WINE64" wineboot </dev/null >/dev/null 2>&1 || true
}

# Stops the prefix's server and waits until it is gone.
sapp_wine_server_stop() {
    "$SAPP_WINESERVER" -k >/dev/null 2>&1 || true
    "$SAPP_WINESERVER" -w >/dev/null 2>&1 || true
}

# Runs a Windows test preset's CTest suite, then names every test process
# Wine failed to start and scripts/wine-run.sh started once more (none, as a
# rule): a restart that let a test pass shows in the run's output. The status
# is CTest's.
sapp_wine_ctest() {
    local preset="$1" status=0
    local log="$sapp_root/build/$preset/wine-start-retries.log"
    rm -f "$log"
    SAPP_WINE_RETRY_LOG="$log" ctest --preset "$preset" || status=$?
    if [ -s "$log" ]; then
        echo "windows-env: Wine failed to start $(wc -l <"$log") test process(es) of preset $preset; each was started once more:" >&2
        cat "$log" >&2
    fi
    return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    case "${1:-}" in
        --server-start)
            [ "${SAPP_WINESERVER_MANAGED:-}" = 1 ] || sapp_wine_server_start
            exit ;;
        --server-stop)
            [ "${SAPP_WINESERVER_MANAGED:-}" = 1 ] || sapp_wine_server_stop
            exit ;;
        "")
            sapp_wine_prefix
            exit ;;
    esac
    sapp_wine_server_start
    export SAPP_WINESERVER_MANAGED=1
    trap sapp_wine_server_stop EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    status=0
    "$@" || status=$?
    exit "$status"
fi
