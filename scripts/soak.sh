#!/usr/bin/env bash
# A long soak of the console against the simulator: periodic polling every second for an
# hour (or the seconds given), with 1 % of the answers spoilt by a random fault. Not part of
# the tests. Every minute it records the console's memory, the lines of its information
# window and the faults injected; a crash ends it and is recorded.
#   scripts/soak.sh [SECONDS] [PERCENT]
# The figures go to run/soak/report.txt, the console's own messages to run/soak/console.log.
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-3600}
percent=${2:-1}

./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target varnok-soak varnok-sim

out=run/soak
mkdir -p "$out"
echo "soak: ${duration} s of polling every second, ${percent} % random faults; report in $out/report.txt"
status=0
QT_QPA_PLATFORM=offscreen build/bin/varnok-soak --seconds "$duration" --faults "$percent" --seed "$RANDOM" \
  --report "$out/report.txt" 2> "$out/console.log" || status=$?
if [ "$status" -gt 128 ]; then
  echo "crashes: 1 (signal $((status - 128)))" | tee -a "$out/report.txt"
elif [ "$status" -ne 0 ]; then
  echo "the soak ended with status $status" | tee -a "$out/report.txt"
else
  echo "crashes: 0" >> "$out/report.txt"
fi
cat "$out/report.txt"
exit "$status"
