#!/usr/bin/env bash
# Installs a build as an integrator gets it and runs examples/minimal-host,
# built against that install tree alone.
#
#   scripts/minimal-host.sh PRESET [RUNNER...]
#
# PRESET is a configured and built preset (dev, windows, ...). Its build is
# installed afresh into build/PRESET-install, the example is configured and
# built in build/PRESET-minimal-host (with the preset's toolchain file, if
# any) and run, through RUNNER when given (scripts/test-windows.sh passes
# Wine, inside its Wine server's lifetime). Fails when any step fails or the
# example exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:?usage: scripts/minimal-host.sh PRESET [RUNNER...]}"
shift
build="build/$preset"
prefix="$PWD/build/$preset-install"
example="build/$preset-minimal-host"

# Runs a command quietly, showing its output only when it fails.
quiet() {
    local output
    if ! output=$("$@" 2>&1); then
        printf '%s\n' "$output" >&2
        return 1
    fi
}

rm -rf "$prefix" "$example"
quiet cmake --install "$build" --prefix "$prefix"

args=(-S examples/minimal-host -B "$example" -Dsapp_DIR="$prefix/lib/cmake/sapp")
toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -z "$toolchain" ] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
quiet cmake "${args[@]}"
quiet cmake --build "$example"

exe="$example/minimal-host"
[ -e "$exe" ] || exe="$exe.exe"
"$@" "$exe"
