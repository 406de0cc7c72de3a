#!/usr/bin/env bash
# Measures the line budget and the console's own costs, and prints them with the machine
# they ran on: the time of every exchange, poll, probe and scan at every speed in the
# normal timing and in the fast exchange, beside its budget and a libmodbus master on
# the same line; the wall time of varnok-cli commands beside their budget; then start-up
# time, peak memory and CPU of the console itself.
#
#   scripts/bench.sh [--seconds N]     polling time of the console's costs (default 600)
#
# Takes about 6 minutes plus twice the polling time. Any further options go to line_budget
# (--codes 1,2,... --reps N --window N --turnaround MS).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh

seconds=600
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target line_budget console_costs varnok-sim varnok-cli

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores," \
     "$(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo); $(uname -sr);" \
     "load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Build: $(git rev-parse --short HEAD 2>/dev/null || echo unknown), RelWithDebInfo"
echo

build/bin/line_budget "${args[@]}"
echo
bench/cli_wall.sh build
echo
bench/mqtt_rate.sh build
echo

# The console on a virtual X server, as an engineer's desktop would show it.
xvfb-run -a -s "-screen 0 1366x768x24" env QT_QPA_PLATFORM=xcb \
  build/bin/console_costs --seconds "$seconds" 2> >(grep -v 'propagateSizeHints\|XDG_RUNTIME_DIR' >&2)
