#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the console against the device simulator.
# The console gets a settings file of its own in run/ whose port COM1 is the simulator.
# Without a display it runs on a virtual X server, saves a screenshot once the readings
# are in, prints where it is, and ends.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

./scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target varnok varnok-sim

run="$top/run"
mkdir -p "$run"
rm -f "$run/frames.log" "$run/sim.out"
# Only what the console's defaults do not give: the port map, and the two values in which a
# file's defaults differ from a first start's (network number 5, the period of 2 s).
cat > "$run/varnok.ini" <<INI
[связь]
НОМЕР=5
ПЕРИОД ОПРОСА=1

[порты]
COM1=$run/tty
INI

build/bin/varnok-sim --link "$run/tty" --log "$run/frames.log" --no-stdin > "$run/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q '^varnok-sim: terminal' "$run/sim.out" 2>/dev/null && break
  sleep 0.1
done
head -n 1 "$run/sim.out"

export XDG_CONFIG_HOME="$run"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/bin/varnok
  exit 0
fi

# No display: a virtual X server, and a screenshot once the version (the last read of the
# start-up) has been answered.
shot="$run/varnok.png"
rm -f "$shot"
xvfb-run -a -s "-screen 0 ${VARNOK_SCREEN:-1193x808}x24" bash -c '
  build/bin/varnok &
  console=$!
  for _ in $(seq 150); do
    grep -q -- "-> 05 04 0A" "$1" 2>/dev/null && [ "$(grep -c -- "-> 05 04 0A" "$1")" -ge 2 ] && break
    sleep 0.2
  done
  sleep 1
  import -window root "$2"
  kill $console
  wait $console 2>/dev/null || true
' _ "$run/frames.log" "$shot"
if [ -s "$shot" ]; then
  echo "screenshot: $shot"
else
  echo "no screenshot was made" >&2
  exit 1
fi
