#!/usr/bin/env bash
# Wine environment for running the Windows build's executables.
#
# Sourced: exports the Wine variables and makes sure the Wine prefix exists.
# Executed: the same, then runs the given command in that environment, e.g.
#   scripts/windows-env.sh ctest --test-dir build/windows -R pack_test
#
# The prefix (build/wine-prefix, the same path the `windows` test preset
# uses) is created once, completely, before anything runs in it: tests run in
# parallel and would otherwise race to initialise it. Nothing prompts: the
# Mono and Gecko installers are disabled and Wine's debug output is off.
# The locale is pinned because Wine derives the ANSI code page (CP_ACP) from
# it: C.UTF-8 gives 1252 on every machine.

sapp_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$sapp_root/build/wine-prefix}"
export WINEDEBUG=-all
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
SAPP_WINE64=/usr/lib/wine/wine64
SAPP_WINESERVER=/usr/lib/wine/wineserver
export SAPP_WINE64 SAPP_WINESERVER

sapp_wine_prefix() {
    local ready="$WINEPREFIX/.sapp-ready"
    [ -e "$ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        # One initialisation at a time, also across concurrent callers.
        flock 9
        [ -e "$ready" ] && exit 0
        rm -rf "$WINEPREFIX"
        echo "windows-env: creating Wine prefix $WINEPREFIX" >&2
        "$SAPP_WINE64" wineboot --init >/dev/null 2>&1 || true
        "$SAPP_WINESERVER" -w
        [ -e "$WINEPREFIX/system.reg" ] || { echo "windows-env: wineboot failed" >&2; exit 1; }
        touch "$ready"
    ) 9>"$WINEPREFIX.lock"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    sapp_wine_prefix
    if [ $# -gt 0 ]; then exec "$@"; fi
else
    sapp_wine_prefix
fi
