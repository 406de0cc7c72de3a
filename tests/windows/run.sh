#!/usr/bin/env bash
# The Windows test set: builds varnok-cli and the Windows tests with MinGW-w64 into build-win/
# and runs them under Wine in a fresh prefix, against the Linux simulator (built in the
# Linux build folder given, default build/). Wine's COM ports are mapped to pseudo-terminals:
# COM1 and COM2 to the two ends of a socat relay for the port's time-out cases, then COM1 to
# the simulator for the tool's commands; a second simulator stands for an Ethernet converter.
# Last, the zip of the tool is made and its .exe run alone in a fresh prefix.
set -euo pipefail
cd "$(dirname "$0")/../.."
linux_build=${1:-build}
sim=$linux_build/bin/varnok-sim
[ -x "$sim" ] || { echo "no simulator at $sim: build the Linux tree first" >&2; exit 1; }

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BENCH=OFF >/dev/null
cmake --build build-win

scratch=$(mktemp -d "${TMPDIR:-/tmp}/varnok-wine.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

wait_for() {  # PATH: waits up to 10 s for it to appear
  for _ in $(seq 200); do [ -e "$1" ] && return 0; sleep 0.05; done
  echo "$1 did not appear" >&2; return 1
}
map_ports() {  # COMn=PATH...: Wine reads its port map when its server starts
  for m in "$@"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "${m%%=*}" /d "${m#*=}" /f >/dev/null
  done
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  # Started here, so that its dump of objects when it is stopped goes nowhere.
  wineserver >/dev/null 2>&1
}

wineboot -i >/dev/null 2>&1
socat pty,raw,echo=0,link="$scratch/com1" pty,raw,echo=0,link="$scratch/com2" &
pids+=($!)
wait_for "$scratch/com1"; wait_for "$scratch/com2"
map_ports COM1="$scratch/com1" COM2="$scratch/com2"
echo "== windows_tests.exe under Wine"
wine build-win/bin/windows_tests.exe
kill "${pids[@]}"; pids=()

"$sim" --no-stdin --link "$scratch/sim" --device-at 5 --device-at 17 --noise 0 >/dev/null &
pids+=($!)
# A second one as an Ethernet converter with device 9 behind it.
"$sim" --no-stdin --tcp 0 --address 9 --noise 0 >"$scratch/tcp.out" &
pids+=($!)
wait_for "$scratch/sim"
for _ in $(seq 200); do grep -q 'tcp://' "$scratch/tcp.out" && break; sleep 0.05; done
converter=$(sed -n 's/^varnok-sim: terminal //p' "$scratch/tcp.out")
map_ports COM1="$scratch/sim"
echo "== varnok-cli.exe under Wine against the simulator"
tests/windows/cli_cases.sh build-win/bin/varnok-cli.exe "$WINEPREFIX" "$converter"

echo "== the zip: its .exe alone in a fresh prefix"
scripts/package-windows.sh
