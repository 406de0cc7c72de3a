#!/usr/bin/env bash
# The protocol's PDF as the Windows build makes it: write_protocol.exe under Wine writes the
# sample protocol into a folder with a Cyrillic name, with the fonts beside the .exe; read back
# here with pdftotext and pdffonts. Then the fonts missing: one line, exit 1, no file.
# Usage: protocol_case.sh WRITE_PROTOCOL.EXE (WINEPREFIX set, its server running)
set -uo pipefail
exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=1; fi
}

mkdir "$work/протоколы"
pdf=$work/протоколы/протокол.pdf
wine "$exe" "$(winepath -w "$pdf")" 2>"$work/err"; rc=$?
check "write_protocol.exe exit 0" test "$rc" = 0
text=$(pdftotext -layout "$pdf" - 2>/dev/null)
row() { tr -s ' ' <<<"$text" | sed 's/^ //' | grep -qxF -- "$1"; }
check "the title and the unit" bash -c 'grep -q "Протокол проверки" <<<"$0" && grep -q "Варнок-3, версия 2.0.3.6" <<<"$0"' "$text"
check "an as-found row with the decimal comma" row "50 125,0000 128,7500 3,7500 1,500 не годен"
check "an as-left row" row "50 125,0000 124,9000 -0,1000 -0,040 годен"
check "the constants before and after" row "1 512 1,0234 505 0,9871"
check "the failed point" bash -c 'grep -q "отказ: нет ответа на чтение регистров 0x4C-0x4D" <<<"$0"' "$text"
check "the verdict" bash -c 'grep -q "Заключение: годен" <<<"$0"' "$text"
check "both fonts embedded" bash -c '[ "$(pdffonts "$0" 2>/dev/null | grep -c "DejaVuSans.* yes ")" = 2 ]' "$pdf"

VARNOK_FONT_DIR='C:\nowhere' wine "$exe" "$(winepath -w "$work/x.pdf")" 2>"$work/err"; rc=$?
check "no fonts: exit 1 with the line, no file" bash -c \
  '[ "$0" = 1 ] && grep -qF "не записан: нет шрифта C:\\nowhere\\DejaVuSans.ttf" "$1" && [ ! -e "$2" ]' \
  "$rc" "$work/err" "$work/x.pdf"
[ "$failed" = 0 ] || { echo "err: $(cat "$work/err")"; exit 1; }
