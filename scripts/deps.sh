#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
#   scripts/deps.sh            packages of the Linux build and tests
#   scripts/deps.sh windows    plus the mingw-w64 cross compiler and Wine
#   scripts/deps.sh bench      plus what scripts/bench.sh runs: matplotlib
set -euo pipefail

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest zlib1g-dev nlohmann-json3-dev valgrind
          libbenchmark-dev libprotobuf-dev protobuf-compiler)
if [[ "${1:-}" == "windows" ]]; then
  packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64)
elif [[ "${1:-}" == "bench" ]]; then
  packages+=(python3-matplotlib)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
