#!/usr/bin/env bash
# The Windows test set: builds varnok-cli and the Windows tests with MinGW-w64 into build-win/
# and runs them under Wine in a fresh prefix, against the Linux simulator (built in the
# Linux build folder given, default build/). Wine's COM ports are mapped to pseudo-terminals:
# COM1 and COM2 to the two ends of a socat relay for the port's time-out cases, then COM1 to
# the simulator for the tool's commands; a second simulator stands for an Ethernet converter.
# read --mqtt against a Linux mosquitto started on 127.0.0.1.
# Last, the packages are made and the tool's .exe run alone in a fresh prefix; with a Qt for
# Windows, the console is installed from its installer and tried against the simulator.
set -euo pipefail
cd "$(dirname "$0")/../.."
linux_build=${1:-build}
sim=$linux_build/bin/varnok-sim
[ -x "$sim" ] || { echo "no simulator at $sim: build the Linux tree first" >&2; exit 1; }

# The console too, when the Qt for Windows is in its cache (scripts/build-qt-mingw.sh).
qt=${VARNOK_QT_MINGW:-$HOME/.cache/varnok/qt-6.4.2-mingw}
qt_args=()
[ -f "$qt/.complete" ] && qt_args=(-DCMAKE_PREFIX_PATH="$qt")
# libharu for Windows, built once into its cache (scripts/build-haru-mingw.sh, some 20 s).
haru=${VARNOK_HARU_MINGW:-$HOME/.cache/varnok/haru-2.3.0-mingw}
[ -f "$haru/.complete" ] || scripts/build-haru-mingw.sh
# SQLite for Windows, which keeps the history, the same way (scripts/build-sqlite-mingw.sh).
[ -f "${VARNOK_SQLITE_MINGW:-$HOME/.cache/varnok/sqlite-mingw}/.complete" ] || scripts/build-sqlite-mingw.sh
# OpenSSL and libmosquitto for read --mqtt (scripts/build-mqtt-mingw.sh, some 9 minutes once).
[ -f "${VARNOK_MQTT_MINGW:-$HOME/.cache/varnok/mqtt-mingw}/.complete" ] || scripts/build-mqtt-mingw.sh
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BENCH=OFF "${qt_args[@]}" >/dev/null
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

# shellcheck source=tests/windows/wine.sh
. tests/windows/wine.sh

wineboot -i >/dev/null 2>&1
socat pty,raw,echo=0,link="$scratch/com1" pty,raw,echo=0,link="$scratch/com2" &
pids+=($!)
wait_for "$scratch/com1"; wait_for "$scratch/com2"
map_ports COM1="$scratch/com1" COM2="$scratch/com2"
echo "== windows_tests.exe under Wine"
wine build-win/bin/windows_tests.exe
kill "${pids[@]}"; pids=()
echo "== the protocol's PDF under Wine, read back here"
tests/windows/protocol_case.sh build-win/bin/write_protocol.exe

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
echo "== varnok-cli.exe read --mqtt under Wine against a Linux mosquitto"
tests/windows/mqtt_cases.sh build-win/bin/varnok-cli.exe "$WINEPREFIX"

echo "== the packages: the tool's .exe alone in a fresh prefix, the console's DLLs"
scripts/package-windows.sh
version=$(sed -n 's/^project(varnok VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ ${#qt_args[@]} -gt 0 ]; then
  echo "== the console from its installer under Wine against the simulator"
  tests/windows/console_smoke.sh "$linux_build" "build-win/varnok-$version-setup.exe" build-win/console-wine.png
else
  cat >&2 <<EOT
!! THE WINDOWS CONSOLE WAS NOT TESTED: there is no Qt for Windows at $qt.
!! scripts/build-qt-mingw.sh builds it once from Debian's sources (about an hour on two
!! cores); the test command does not build it, so that CI keeps within its time.
EOT
fi
