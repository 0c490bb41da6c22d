#!/usr/bin/env bash
# Redraws the diagram of the built-in typical session in README.md and
# docs/integration.md with the dev build's sapp-host (the CTest test
# sapp_host_docs_diagram checks them).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset dev >/dev/null
cmake --build --preset dev --target sapp-host
cmake -DSAPP_HOST=build/dev/bin/sapp-host "-DDOCS=README.md|docs/integration.md" -DUPDATE=ON \
      -P tools/sapp-host/cli/DocsDiagram.cmake
