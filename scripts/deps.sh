#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
#   scripts/deps.sh            packages of the Linux builds and tests (msvc-target, the growth check,
#                              the cost budget and the coverage floor included)
#   scripts/deps.sh windows    plus Wine, for the mingw-w64 cross build's tests
#   scripts/deps.sh bench      plus what scripts/bench.sh runs: matplotlib
set -euo pipefail

# The msvc-target preset (a Linux build) needs clang-cl, LLVM's object tools
# and mingw-w64's headers and zlib, the cross build the same and Wine; the
# growth check (perf/growth.sh) and the cost budget (bench/budget.sh) count
# instructions with valgrind; the budget and the coverage floor
# (scripts/coverage.sh, llvm-14's tools) are read with jq.
# The HTML report's browser tests (tools/sapp-host/report/browser_test.py)
# drive Debian's Chromium through Selenium and ChromeDriver, and Firefox ESR
# from Python.
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest zlib1g-dev nlohmann-json3-dev
          libbenchmark-dev libprotobuf-dev protobuf-compiler valgrind jq python3 chromium chromium-driver python3-selenium firefox-esr
          clang-tools-14 llvm-14 lld-14 g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev)
if [[ "${1:-}" == "windows" ]]; then
  packages+=(wine64)
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
