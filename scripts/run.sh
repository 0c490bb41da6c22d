#!/usr/bin/env bash
# Builds what a session needs (the module, the stand-in host libraries and
# sapp-host, in the dev preset's build folder) and plays a typical session
# through sapp-host, printing everything the module sends, posts and logs.
# Arguments go to `sapp-host run` (a scenario file, --json); without them
# the built-in session is played. They are read from the folder run.sh is
# called from, like any command's: `scripts/run.sh ../my.json` plays the
# file next to that folder.
#
# Standard output carries the trace and nothing else, so
# `scripts/run.sh FILE --json` is JSON Lines. Installing packages,
# configuring and building report on standard error: one progress line, and
# the build's whole output (kept in build/run.log) only when it fails.
# Only what the build needs is installed (scripts/deps.sh run: the
# compiler, CMake, zlib, nlohmann-json, and GoogleTest, whose tests the
# configuration declares); scripts/test.sh installs the rest.
#
# SAPP_RUN_BUILD=DIR builds and runs in that configured build folder
# instead (the tests use their own).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh" run >&2

build="${SAPP_RUN_BUILD:-$root/build/dev}"
mkdir -p "$root/build"
log="$root/build/run.log"

# The last "[ 42%]" of the build on one line of a terminal; elsewhere
# nothing.
progress() {
    local line
    while IFS= read -r line; do
        if [[ -t 2 && "$line" == "["*"%]"* ]]; then
            printf '\rrun.sh: building %s' "${line%%]*}]" >&2
        fi
    done
}

echo "run.sh: building the module and sapp-host in $build (output in $log)" >&2
if ! {
    if [ -z "${SAPP_RUN_BUILD:-}" ]; then (cd "$root" && cmake --preset dev); fi
    cmake --build "$build" --target sapp-host --parallel 2
} 2>&1 | tee "$log" | progress; then
    [ ! -t 2 ] || printf '\n' >&2
    echo "run.sh: the build failed:" >&2
    cat "$log" >&2
    exit 1
fi
[ ! -t 2 ] || printf '\r\033[K' >&2

exec "$build/bin/sapp-host" run "$@"
