#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
#   scripts/deps.sh run        what scripts/run.sh builds: the module, the stand-in host libraries and
#                              sapp-host (the compiler, CMake, zlib, nlohmann-json, and GoogleTest, whose
#                              tests the configuration declares)
#   scripts/deps.sh            packages of the Linux builds and tests (the growth checks, the cost
#                              budget, the coverage floor, the host-call check and the browser tests
#                              included)
#   scripts/deps.sh windows    plus the Windows builds: mingw-w64 (preset windows), clang-cl, lld-link
#                              and Wine's headers and runtime DLLs (preset msvc-wine), and Wine to run
#                              their tests
#   scripts/deps.sh bench      plus what scripts/bench.sh runs: matplotlib
set -euo pipefail

# What configuring and building the dev preset needs.
packages=(cmake make g++ zlib1g-dev nlohmann-json3-dev libgtest-dev libgmock-dev)
if [[ "${1:-}" != "run" ]]; then
  # The installed package's check (scripts/minimal-host.sh) reads its
  # pkg-config file. The growth checks (perf/growth.sh, perf/tool-growth.sh)
  # and the cost budget (bench/budget.sh) count instructions with valgrind;
  # the budget and the coverage floor (scripts/coverage.sh, llvm-14's tools)
  # are read with jq. The host-call check reads the module's virtual calls
  # with clang-query (clang-tools-14). The HTML report's browser tests
  # (tools/sapp-host/report/browser_test.py) drive Debian's Chromium through
  # Selenium and ChromeDriver, and Firefox ESR from Python.
  packages+=(clang libclang-rt-14-dev googletest pkg-config libbenchmark-dev libprotobuf-dev protobuf-compiler
             valgrind jq python3 chromium chromium-driver python3-selenium firefox-esr clang-tools-14 llvm-14)
fi
if [[ "${1:-}" == "windows" ]]; then
  # mingw-w64 (preset windows; its zlib also serves msvc-wine); clang-cl
  # (clang-tools-14), lld-link, LLVM's readers and Wine's UCRT and Windows
  # headers (libwine-dev) for msvc-wine, which links against the runtime
  # DLLs of Debian's Wine; Wine runs both builds' tests.
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev
             clang-tools-14 lld-14 libwine-dev wine64)
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
