#!/usr/bin/env bash
# Remakes docs/sample-protocol.pdf and its first page docs/sample-protocol.png from the simulator,
# the way the user's guide's worked example goes: channel 1 made out of tolerance, checked as
# found, its zero calibrated, checked as left with the protocol. Needs build/bin (./scripts/run.sh
# or cmake --build build), socat and pdftoppm (scripts/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bin="$top/build/bin"
for tool in varnok-cli varnok-sim; do
    [ -x "$bin/$tool" ] || { echo "sample-protocol: $bin/$tool is missing, build first" >&2; exit 1; }
done

work=$(mktemp -d)
sim=
finish() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

# Steady readings, so that the protocol's numbers are the guide's: an error of 1 V, then 0.
"$bin/varnok-sim" --noise 0 --control "$work/ctl" --link "$work/tty" --no-stdin >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
    [ -S "$work/ctl" ] && [ -e "$work/tty" ] && break
    sleep 0.1
done
[ -S "$work/ctl" ] || { echo "sample-protocol: the simulator did not start:" >&2; cat "$work/sim.out" >&2; exit 1; }

# The tool's own settings file, whose COM1 is the simulator; nothing of the user's is read.
printf '[связь]\nПОРТ=1\nНОМЕР=5\n\n[порты]\nCOM1=%s\n' "$work/tty" >"$work/varnok.ini"
cli() { "$bin/varnok-cli" --settings "$work/varnok.ini" "$@"; }
ctl() { socat - "UNIX-CONNECT:$work/ctl"; }
export VARNOK_CTL="$work/ctl"
apply='printf "signal %s %s\n" "$VARNOK_CHANNEL" "$VARNOK_PERCENT" | socat - UNIX-CONNECT:$VARNOK_CTL'

# The converter's true zero 400 counts above the stored 1012: +1 V on the 250 V scale.
echo 'zero 1 1412' | ctl >/dev/null

status=0
cli --json check --as found --channels 1 --points 0,50,100 --samples 3 --tolerance 0.3 \
    --unit-number 2417 --engineer "Иванов И. И." \
    --reference-instrument "Калибратор К1;12;2027-06-30" \
    --apply "$apply" >"$work/found.json" || status=$?
[ "$status" -eq 1 ] || { echo "sample-protocol: as found ended with $status, not 1 (не годен)" >&2; exit 1; }

printf 'format=1\n[calibration]\nzero1=1412\n' >"$work/zero.conf"
cli load --only calibration "$work/zero.conf"

cli check --as left --found "$work/found.json" --channels 1 --points 0,50,100 --samples 3 \
    --apply "$apply" --protocol "$work/2417.pdf"

cp "$work/2417.pdf" docs/sample-protocol.pdf
pdftoppm -png -r 80 -f 1 -l 1 -singlefile docs/sample-protocol.pdf docs/sample-protocol
echo "docs/sample-protocol.pdf, docs/sample-protocol.png"
