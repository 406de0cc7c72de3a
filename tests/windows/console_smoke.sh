#!/usr/bin/env bash
# The console on Windows, under Wine on a virtual X display, from its installer:
#   tests/windows/console_smoke.sh LINUX_BUILD SETUP.EXE [SCREENSHOT.png]
# The installer installs silently into a fresh prefix; the installed varnok.exe starts with COM1
# mapped to the Linux simulator and finds the device: the simulator's frame log holds the
# start-up's exchanges in their order; a screenshot is taken (to SCREENSHOT.png when given);
# the console is closed through its menu "файл" > "выход" and writes its settings file in
# %APPDATA%\varnok; the uninstaller removes the program and leaves the settings.
set -euo pipefail
cd "$(dirname "$0")/../.."
linux_build=$1
setup=$(realpath "$2")
shot=${3:-}
sim=$linux_build/bin/varnok-sim

scratch=$(mktemp -d "${TMPDIR:-/tmp}/varnok-console.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
# shellcheck source=tests/windows/wine.sh
. tests/windows/wine.sh
fail() { echo "console smoke: $*" >&2; exit 1; }

# A virtual display of the console's own size and more.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$scratch/display")

# A Russian Windows: its formats, and fonts for its dialogs (without them Wine draws Latin text
# in line edits with a bitmap font that Qt leaves blank).
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
wineboot -i >/dev/null 2>&1
windows_fonts
"$sim" --no-stdin --link "$scratch/sim" --noise 0 --log "$scratch/frames.log" >/dev/null &
pids+=($!)
wait_for "$scratch/sim"
map_ports COM1="$scratch/sim"

echo "-- installing silently"
wine "$setup" /S
program=$WINEPREFIX/drive_c/Program\ Files/Varnok
[ -f "$program/varnok.exe" ] || fail "the installer put no varnok.exe in $program"
ls "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Varnok/Varnok.lnk" >/dev/null ||
  fail "no Start menu entry"

echo "-- starting the installed console against the simulator"
wine "C:\\Program Files\\Varnok\\varnok.exe" &
console=$!
pids+=($console)
# The start-up: the probe, the activation's address check and full poll, the name and the version.
expected="05 03 08 00 00 01 87 EE
05 03 08 00 00 01 87 EE
05 03 00 20 00 03 05 85
05 03 00 40 00 03 05 9B
05 03 00 60 00 03 04 51
05 03 00 23 00 04 B4 47
05 03 00 43 00 04 B4 59
05 03 00 63 00 04 B5 93
05 04 00 2C 00 02 B1 86
05 04 00 4C 00 02 B1 98
05 04 00 6C 00 02 B0 52
05 04 00 02 00 02 D1 8F
05 03 00 2A 00 02 E4 47
05 03 00 4A 00 02 E4 59
05 03 00 6A 00 02 E5 93
05 04 00 04 00 05 70 4C
05 04 00 09 00 05 E1 8F"
requests() { sed -n 's/.*<- //p' "$scratch/frames.log" | sed 's/ *$//'; }
for _ in $(seq 1200); do [ "$(requests | wc -l)" -ge 17 ] && break; sleep 0.05; done
[ "$(requests | head -17)" = "$expected" ] || fail "the start-up's exchanges differ:
$(requests | head -30)"

window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name 'проверка интерфейса' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no console window on the display"
sleep 1  # the readings just read are painted
if [ -n "$shot" ]; then
  import -window "$window" "$shot"
  echo "-- screenshot: $shot"
fi

echo "-- closing through the menu файл > выход"
eval "$(xdotool getwindowgeometry --shell "$window")"
# "файл" is the menu bar's first item, just under the window's top edge.
xdotool mousemove --window "$window" 20 10 click 1
sleep 0.5
xdotool key Up key Return
for _ in $(seq 300); do kill -0 "$console" 2>/dev/null || break; sleep 0.1; done
kill -0 "$console" 2>/dev/null && fail "the console did not close through its menu"
appdata=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")
ini=$appdata/varnok/varnok.ini
grep -q '^\[связь\]' "$ini" || fail "no settings file in %APPDATA%\\varnok"

echo "-- uninstalling silently"
wine "C:\\Program Files\\Varnok\\uninstall.exe" /S
for _ in $(seq 300); do [ -e "$program" ] || break; sleep 0.1; done
[ -e "$program" ] && fail "the uninstaller left $(find "$program" | head -5)"
[ -f "$ini" ] || fail "the uninstaller removed the user's settings"
echo "console smoke: installed, started, found the device, closed, uninstalled"
