#!/usr/bin/env bash
# Redraws the diagram of the built-in typical session in README.md with the
# dev build's sapp-host (the CTest test sapp_host_readme_diagram checks it).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset dev >/dev/null
cmake --build --preset dev --target sapp-host
cmake -DSAPP_HOST=build/dev/bin/sapp-host -DREADME=README.md -DUPDATE=ON -P tools/sapp-host/ReadmeDiagram.cmake
