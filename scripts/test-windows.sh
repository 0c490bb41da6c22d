#!/usr/bin/env bash
# Builds the Windows x86-64 preset (mingw-w64 cross build) and runs its whole
# test suite under Wine. Installs the cross compiler, Wine and the cross
# build's zlib when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "test-windows: installing ${missing[*]}" >&2
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

started=$SECONDS
# shellcheck source=scripts/windows-env.sh
source scripts/windows-env.sh
echo "test-windows: Wine prefix ready ($((SECONDS - started)) s)" >&2
# Whatever the outcome, let this prefix's Wine server shut down before we return.
trap '"$SAPP_WINESERVER" -w || true' EXIT

cmake --preset windows
cmake --build --preset windows
ctest --preset windows
echo "test-windows: done in $((SECONDS - started)) s" >&2
