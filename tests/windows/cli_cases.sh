#!/usr/bin/env bash
# varnok-cli.exe under Wine against the simulator on COM1 (devices 5 and 17 at 9600 bit/s):
# scan, info, set, read, check, the history and a refused argument, each checked on its output
# and exit code.
# Then a device behind a converter over Winsock, and a port that is not there.
# Usage: cli_cases.sh VARNOK-CLI.EXE WINEPREFIX tcp://HOST:PORT
set -uo pipefail
exe=$1
prefix=$2
converter=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

cli() {  # ARGS...: runs the tool; its output in $out, errors in $err, exit code in $rc
  out=$(wine "$exe" "$@" 2>"$work/err"); rc=$?
  err=$(cat "$work/err")
}
check() {  # WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else
    echo "FAIL $what"; echo "  exit $rc"; echo "  out: $out"; echo "  err: $err"; failed=1
  fi
}
has() { grep -qE -- "$1" <<<"$2"; }

cli -p COM1 -b 9600 scan --speed 9600 --from 1 --to 20
check "scan finds 5 and 17" bash -c '[ "$0" = 0 ] && [ "$(grep -cE "^ *(5|17) " <<<"$1")" = 2 ]' "$rc" "$out"

cli -p COM1 -b 9600 -a 5 --json info
check "info --json of 5 in UTF-8" has '"name":"Варнок ПМ3"' "$out"
check "info --json: channels and the line" has '"interface":{"speed":9600,' "$out"
check "info exit 0" test "$rc" = 0

# The new speed goes to the device and to the settings file in %APPDATA%.
cli -p COM1 -b 9600 -a 17 set speed=19200
check "set speed=19200 exit 0" test "$rc" = 0
ini=$(find "$prefix/drive_c/users" -path '*AppData/Roaming/varnok/varnok.ini' | head -1)
check "the settings file is in %APPDATA%\\varnok" test -n "$ini"
cli -a 17 --json info
check "the next run talks at 19200 from the settings file" has '"interface":{"speed":19200,' "$out"
cli -p COM1 -b 9600 -a 17 info
check "17 no longer answers at 9600" test "$rc" = 1

# Back to 9600; the temporary file a killed writer left beside the settings file goes.
stale="$(dirname "$ini")/.varnok.ini.999999-0.tmp"
echo junk >"$stale"
cli -a 17 set speed=9600
check "set speed=9600 exit 0" test "$rc" = 0
check "a dead writer's temporary file is removed" test ! -e "$stale"
cli -a 17 --json info
check "and the next run talks at 9600" has '"interface":{"speed":9600,' "$out"

# Under Russian regional settings the file is a spreadsheet's by default; --csv standard for scripts.
export LC_ALL=ru_RU.UTF-8
cli -p COM1 -b 9600 -a 5 read --count 3 --out 'C:\readings.csv'
csv="$prefix/drive_c/readings.csv"
check "read --count 3 exit 0" test "$rc" = 0
check "read --count 3 writes a header and three rows" test "$(wc -l <"$csv")" = 4
check "the spreadsheet's header: BOM, ';', units" test "$(head -1 "$csv")" = \
  $'\xEF\xBB\xBF''Время;Прибор;Значение 1, В;Процент 1;Значение 2, А;Процент 2;Значение 3, мА;Процент 3;Частота, Гц'$'\r'
check "a row: local time, ';' and decimal commas, CRLF" \
  has $'^[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8};5;106,25;42,5;3,655;73,1;2,4;12;50\r$' "$(sed -n 2p "$csv")"
cli -p COM1 -b 9600 -a 5 read --csv standard --out 'C:\standard.csv'
csv="$prefix/drive_c/standard.csv"
check "--csv standard: its header" has '^time,address,value1,percent1,value2,percent2,value3,percent3,frequency$' "$(head -1 "$csv")"
check "--csv standard: time with offset, address 5" has '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}[+-][0-9]{2}:[0-9]{2},5,' "$(sed -n 2p "$csv")"
unset LC_ALL

cli -p "$converter" -a 9 --json info
check "info of 9 through the converter (Winsock)" has '"address":9,"name":"Варнок ПМ3"' "$out"

# A converter that never stops sending once it has a request: the run ends by itself with the
# line named, and Ctrl-C (a SIGINT, which Wine gives the program as its console's Ctrl-C) ends it.
python3 -c '
import socket, threading
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True)
def flood(c):
    try:
        c.recv(100)
        b = b"\x55" * 65536
        while True:
            c.sendall(b)
    except OSError:
        pass
while True:
    c, _ = s.accept()
    threading.Thread(target=flood, args=(c,), daemon=True).start()
' >"$work/flood.port" &
flood=$!
trap 'kill $flood 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/flood.port" ] && break; sleep 0.05; done
flooding="tcp://127.0.0.1:$(cat "$work/flood.port")"
out=$(timeout -k 5 60 wine "$exe" -p "$flooding" -a 5 read --count 3 --every 0.2 2>"$work/err"); rc=$?
err=$(cat "$work/err")
check "a flooding converter: read --count 3 ends with exit 1" test "$rc" = 1
check "and names the line once" bash -c '[ "$(grep -c "линия не умолкает" <<<"$0")" = 1 ]' "$err"
started=$(date +%s)
out=$(timeout --preserve-status -s INT -k 10 3 wine "$exe" -p "$flooding" -a 5 read --count 0 --every 0.2 2>"$work/err"); rc=$?
err=$(cat "$work/err")
check "Ctrl-C ends a read under the flood (exit 1, within seconds)" \
  bash -c '[ "$0" = 1 ] && [ $(($(date +%s) - $1)) -lt 10 ]' "$rc" "$started"
kill $flood 2>/dev/null

cli -p COM9 info
check "a port that is not there: exit 3, why in Russian" bash -c '[ "$0" = 3 ] && grep -qF "порт COM9 (\\\\.\\COM9) не открывается: нет такого устройства" <<<"$1"' "$rc" "$err"

# A profile ends with its checksum; a copy cut inside a value is refused with its line, nothing sent.
cli -p COM1 -b 9600 -a 5 save 'C:\p5.conf'
profile="$prefix/drive_c/p5.conf"
check "save: exit 0, the last line the checksum" bash -c '[ "$0" = 0 ] && tail -1 "$1" | grep -qE "^# crc32=[0-9A-F]{8}$"' "$rc" "$profile"
cli -p COM1 -b 9600 -a 17 load 'C:\p5.conf' --dry-run
check "load --dry-run of the saved profile: exit 0" test "$rc" = 0
head -c "$(grep -bo 'max1=225' "$profile" | cut -d: -f1 | awk '{print $1 + 7}')" "$profile" >"$prefix/drive_c/cut.conf"
cli -p COM1 -b 9600 -a 17 load 'C:\cut.conf'
check "load of a cut profile: exit 2, its line named" bash -c '[ "$0" = 2 ] && grep -qE "профиль, строка [0-9]+: не кончается переводом строки, файл обрезан" <<<"$1"' "$rc" "$err"

cli -p COM1 -b 9600 -a 5 save NUL
check "save NUL: a device, refused with exit 2" bash -c '[ "$0" = 2 ] && grep -qF "файл NUL не записан: это устройство, а не обычный файл" <<<"$1"' "$rc" "$err"
cli -p COM1 -b 9600 -a 5 read --out 'C:\windows'
check "read --out a folder: refused with exit 2" bash -c '[ "$0" = 2 ] && grep -qF "это папка, а не обычный файл" <<<"$1"' "$rc" "$err"

# The unit's history in %LOCALAPPDATA%: the speed writes above, a check whose references come
# from --apply through cmd, its protocol printed again from the store, the chain verified.
cli -p COM1 -b 9600 -a 5 check --channels 1 --points 0,100 --samples 1 --unit-number 31 \
  --apply 'echo %VARNOK_NOMINAL%' --protocol 'C:\first.pdf'
# The simulator's input stands still whatever the reference: the check ends "не годен" (exit 1),
# with the references cmd gave.
check "check --apply through cmd: the nominals as references, exit 1" \
  bash -c '[ "$0" = 1 ] && grep -qE "^1 +100 +250 " <<<"$1"' "$rc" "$out"
store=$(find "$prefix/drive_c/users" -path '*AppData/Local/varnok/history.sqlite' | head -1)
check "the history is in %LOCALAPPDATA%\\varnok" test -n "$store"
cli -a 17 --json history
check "history of 17: the speed written, old and new" \
  has '"what":"speed","old":"9600","new":"19200"' "$(tr -d ' \r\n' <<<"$out")"
cli --json history --unit-number 31
number=$(grep -oE '"protocol_number": *"[^"]+"' <<<"$out" | head -1 | cut -d'"' -f4)
check "history of unit 31: the check and its protocol number" has '^31-[0-9]{8}-[0-9]{6}$' "$number"
cli protocol "$number" --out 'C:\again.pdf'
check "protocol NUMBER prints it again, the same text" bash -c '[ "$0" = 0 ] &&
  [ "$(pdftotext "$1/drive_c/first.pdf" - 2>/dev/null)" = "$(pdftotext "$1/drive_c/again.pdf" - 2>/dev/null)" ]' "$rc" "$prefix"
cli history --verify
check "history --verify: exit 0" test "$rc" = 0

cli -p COM1 -b 1234 info
check "a bad speed is refused with exit 2" test "$rc" = 2

cli -p COM1 read --mqtt mqtt://broker/plant --cafile 'C:\ca.crt'
check "--cafile with mqtt:// is a usage error (exit 2)" bash -c '[ "$0" = 2 ] && grep -qF -- "--cafile только для mqtts://" <<<"$1"' "$rc" "$err"

exit $failed
