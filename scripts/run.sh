#!/usr/bin/env bash
# Builds the module and plays a typical session through sapp-host, printing
# everything the module sends, posts and logs. Arguments go to `sapp-host run`
# (a scenario file, --json); without them the built-in session is played.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
build/dev/bin/sapp-host run "$@"
