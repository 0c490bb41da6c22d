#!/usr/bin/env bash
# Redraws what the docs show of sapp-host's output with the dev build's
# sapp-host: the diagram of the built-in typical session in README.md and
# docs/integration.md (the CTest test sapp_host_docs_diagram checks them)
# and the event table of docs/sapp-host-formats.md (sapp_host_events_documented).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset dev >/dev/null
cmake --build --preset dev --target sapp-host
cmake -DSAPP_HOST=build/dev/bin/sapp-host "-DDOCS=README.md|docs/integration.md" -DBLOCK=mermaid -DARGS=diagram \
      -DUPDATE=ON -P tools/sapp-host/cli/DocsBlock.cmake
cmake -DSAPP_HOST=build/dev/bin/sapp-host -DDOCS=docs/sapp-host-formats.md -DBLOCK=events "-DARGS=events|--markdown" \
      -DUPDATE=ON -P tools/sapp-host/cli/DocsBlock.cmake
