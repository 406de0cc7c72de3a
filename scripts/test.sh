#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test twice: in the normal build and
# under AddressSanitizer and UndefinedBehaviorSanitizer; between them the Windows build of
# varnok-cli and its tests under Wine. Fails on any failed test or report. The tests of a
# build run side by side, two per core; the few that time the line take turns
# (tests/CMakeLists.txt names them). Each stage's time is printed as it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

began=$SECONDS
stage() {
  echo "== $1: $((SECONDS - began)) s"
  began=$SECONDS
}

./scripts/deps.sh
stage "packages"

export QT_QPA_PLATFORM=offscreen
# The compiler cache takes this checkout's paths as relative: another clone hits it too.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
# Two tests per core: most of a test's time is spent waiting on the line and the simulator.
jobs=$((2 * $(nproc)))

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
stage "build"
(cd build && ctest -j"$jobs" --output-on-failure)
stage "tests"

# varnok-cli for Windows, built with MinGW-w64 and tested under Wine against this build's simulator.
tests/windows/run.sh build
stage "Windows build and tests"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNOK_SANITIZE=ON
cmake --build build-asan
stage "sanitizer build"
(cd build-asan &&
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest -j"$jobs" --output-on-failure)
stage "sanitizer tests"
