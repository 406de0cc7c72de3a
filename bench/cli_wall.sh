#!/usr/bin/env bash
# Wall time of varnok-cli processes against the simulator at 115200 bit/s, beside the line
# budget of the exchanges they made (the normal timing's pauses and time-outs, the
# simulator's turnaround, the bytes at the pace of the line). The ratio says what the process
# itself adds: its start, the settings file, the port set-up.
#
#   bench/cli_wall.sh BUILD_DIR [--reps N] [--turnaround MS]
set -euo pipefail
build=$1; shift
reps=15 turnaround=5
while [ $# -gt 0 ]; do
  case "$1" in
    --reps) reps=$2; shift 2 ;;
    --turnaround) turnaround=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
"$build/bin/varnok-sim" --link "$work/tty" --no-stdin --noise 0 --speed 115200 --turnaround "$turnaround" \
  --log "$work/frames.log" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 200); do [ -e "$work/tty" ] && break; sleep 0.05; done
printf '[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=115200\n[порты]\nCOM1=%s\n' "$work/tty" >"$work/varnok.ini"
printf 'from_address,max1,unit2\n5,100,В\n' >"$work/sheet.csv"

cli() { "$build/bin/varnok-cli" --settings "$work/varnok.ini" "$@"; }

# Median wall time in ms of a varnok-cli command, and the budget of the exchanges of one run.
measure() {
  local name=$1; shift
  local times=()
  for _ in $(seq "$reps"); do
    rm -f "$work/report.csv"
    local t0 t1
    t0=$(date +%s%N)
    cli "$@" >/dev/null 2>"$work/err" || true
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] / 1000}')
  rm -f "$work/report.csv"
  # Every frame on the line, the unseen ones too, as the simulator logged them.
  local before
  before=$(wc -l <"$work/frames.log")
  cli "$@" >/dev/null 2>&1 || true
  tail -n +$((before + 1)) "$work/frames.log" >"$work/frames"
  awk -v name="$name" -v median="$median" -v t="$turnaround" '
    # The normal timing at 115200 bit/s, as bench/line_budget models it: pauses of 1 ms
    # before and after, 2 ms allowed per awaited byte, a write given 20 ms a register to settle.
    function normal(len, settle,   found, line) {
      found = 1 + t + ct; if (2 + settle > found) found = 2 + settle
      line = 1 + t + len * ct
      return (found + 2 * len > line ? found + 2 * len : line) + 2
    }
    function hex(s,   v, i) { v = 0; for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return v }
    BEGIN { ct = 10 / 115.2 }
    $2 == "<-" { n++; bytes += NF - 2; settle = ($4 == "10") ? 20 * hex($7 $8) : 0 }
    $2 == "->" { bytes += NF - 2; budget += normal(NF - 2, settle) }
    END {
      printf "%-16s %3d exchanges %5d bytes  wall %8.1f ms  budget %7.1f ms  ratio %5.2f\n", name, n, bytes, median, budget, median / budget
    }' "$work/frames"
}

echo "varnok-cli at 115200 bit/s, simulator turnaround $turnaround ms, medians of $reps runs"
measure "info" info
measure "commission row" commission "$work/sheet.csv" --report "$work/report.csv" --yes
