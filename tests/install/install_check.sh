#!/usr/bin/env bash
# Installs the console into a scratch root, either from a build tree (cmake --install) or
# from the Debian package, checks the installed layout, then starts the installed console
# on a virtual X server against the installed simulator and opens its help with F1.
#   install_check.sh --build DIR     install what DIR built
#   install_check.sh --deb FILE      unpack the package
set -euo pipefail

case "${1:-}" in
--build | --deb) [ $# -eq 2 ] || { echo "usage: $0 --build DIR | --deb FILE" >&2; exit 2; } ;;
--inside) ;;
*) echo "usage: $0 --build DIR | --deb FILE" >&2; exit 2 ;;
esac

fail() { echo "install check: $*" >&2; exit 1; }

# Second stage, on the virtual X server: $2 the scratch root, $3 the work folder.
if [ "$1" = "--inside" ]; then
  root=$2 work=$3
  sim_pid="" console_pid=""
  trap '[ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null; [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
  "$root/usr/bin/varnok-sim" --link "$work/tty" --log "$work/frames.log" --no-stdin --noise 0 >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 400); do grep -q '^varnok-sim: terminal' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
  grep -q '^varnok-sim: terminal' "$work/sim.out" || fail "the installed simulator did not start: $(cat "$work/sim.out")"

  mkdir -p "$work/config"
  printf '[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=1\n\n[порты]\nCOM1=%s\n' \
    "$work/tty" >"$work/config/varnok.ini"
  # The installed command-line tool reads the device through the same settings file.
  XDG_CONFIG_HOME="$work/config" "$root/usr/bin/varnok-cli" info >"$work/cli.out" 2>&1 ||
    fail "the installed varnok-cli failed: $(cat "$work/cli.out")"
  grep -q '^имя *Варнок' "$work/cli.out" || fail "varnok-cli info gave no name: $(cat "$work/cli.out")"

  mkdir -m 700 "$work/runtime"
  XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" \
    XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=xcb "$root/usr/bin/varnok" >"$work/console.out" 2>&1 &
  console_pid=$!

  # Started and through its start-up: the version read (the last of it) was answered.
  # Generous limits, for a busy machine and a sanitizer build; each wait ends as soon as it can.
  for _ in $(seq 600); do
    [ "$(grep -c -- '-> 05 04 0A' "$work/frames.log" 2>/dev/null)" -ge 2 ] && break
    kill -0 "$console_pid" 2>/dev/null || fail "the installed console ended: $(cat "$work/console.out")"
    sleep 0.05
  done
  [ "$(grep -c -- '-> 05 04 0A' "$work/frames.log")" -ge 2 ] || fail "the installed console did not read the device"

  # F1 opens the help viewer on the help file beside the console: a window titled by that
  # file (a missing file would bring a message box instead).
  main=$(timeout 30 xdotool search --sync --onlyvisible --pid "$console_pid" --name 'Varnok' | head -n 1)
  [ -n "$main" ] || fail "no main window"
  xdotool windowfocus --sync "$main" key F1
  help_shown() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$console_pid" --name . 2>/dev/null); do
      case "$(xdotool getwindowname "$id")" in "Справка: "*) return 0 ;; esac
    done
    return 1
  }
  for _ in $(seq 400); do help_shown && break; sleep 0.05; done
  help_shown || fail "F1 opened no help: $(xdotool search --onlyvisible --pid "$console_pid" --name . getwindowname %@ 2>&1 | tr '\n' ' ')"
  [ -n "${VARNOK_SHOT:-}" ] && import -window root "$VARNOK_SHOT"
  echo "install check: the installed console started, read the device and opened its help"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"
if [ "$1" = "--deb" ]; then
  dpkg-deb -x "$2" "$root"
  dpkg-deb -f "$2" Depends
else
  DESTDIR="$root" cmake --install "$2" --prefix /usr >/dev/null
fi

# The layout: the console and its help together, a link in bin, the simulator, the menu entry.
[ -x "$root/usr/lib/varnok/varnok" ] || fail "no console in /usr/lib/varnok"
[ -f "$root/usr/lib/varnok/varnok.hlp" ] || fail "no help file beside the console"
[ "$(readlink "$root/usr/bin/varnok")" = "../lib/varnok/varnok" ] || fail "/usr/bin/varnok is not the link to the console"
[ -x "$root/usr/bin/varnok-sim" ] || fail "no simulator in /usr/bin"
[ -x "$root/usr/bin/varnok-cli" ] || fail "no varnok-cli in /usr/bin"
! objdump -p "$root/usr/bin/varnok-cli" | grep -q 'NEEDED.*Qt' || fail "varnok-cli links Qt"
[ -f "$root/usr/share/man/man1/varnok-cli.1" ] || fail "no man page of varnok-cli"
[ -f "$root/usr/share/bash-completion/completions/varnok-cli" ] || fail "no bash completion of varnok-cli"
desktop="$root/usr/share/applications/varnok.desktop"
grep -qx 'Exec=varnok' "$desktop" && grep -qx 'Icon=varnok' "$desktop" || fail "the menu entry does not start varnok with its icon"
[ -f "$root/usr/share/icons/hicolor/64x64/apps/varnok.png" ] || fail "no icon"
desktop-file-validate "$desktop" || fail "the menu entry is not valid"

xvfb-run -a -s "-screen 0 1366x768x24" "$0" --inside "$root" "$work"
