#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test twice: in the normal build and
# under AddressSanitizer and UndefinedBehaviorSanitizer; between them the Windows build of
# varnok-cli and its tests under Wine. Fails on any failed test or report.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh

export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
(cd build && ctest --output-on-failure)

# varnok-cli for Windows, built with MinGW-w64 and tested under Wine against this build's simulator.
tests/windows/run.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNOK_SANITIZE=ON
cmake --build build-asan
(cd build-asan &&
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure)
