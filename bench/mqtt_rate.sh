#!/usr/bin/env bash
# varnok-cli read --mqtt through a Mosquitto broker of its own on a loopback port:
#  1. readings per second that reach a subscriber from two devices at 115200 bit/s with --fast,
#     polled as often as --every allows;
#  2. a spool of 10,000 readings left by an earlier run: the time to send them and the tool's
#     peak memory meanwhile.
# Needs mosquitto and mosquitto_sub (Debian: mosquitto, mosquitto-clients).
#
#   bench/mqtt_rate.sh BUILD_DIR [--count N] [--spooled N]
set -euo pipefail
build=$1; shift
count=100 spooled=10000
while [ $# -gt 0 ]; do
  case "$1" in
    --count) count=$2; shift 2 ;;
    --spooled) spooled=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
chmod 755 "$work"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n' "$port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
"$build/bin/varnok-sim" --link "$work/tty" --no-stdin --noise 0 --device-at 5:115200 --device-at 17:115200 \
  >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -e "$work/tty" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
printf '[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=115200\n[порты]\nCOM1=%s\n' "$work/tty" >"$work/varnok.ini"
export XDG_STATE_HOME=$work/state
cli() { "$build/bin/varnok-cli" --settings "$work/varnok.ini" --fast "$@"; }
url=mqtt://127.0.0.1:$port/bench
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# 1. Two devices, as fast as --every allows; the subscriber stops at the last reading.
expected=$((2 * count))
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'bench/+/+/readings' -C "$expected" >"$work/got" &
sub=$!
sleep 0.3
t0=$(now_ms)
cli -a 5,17 read --every 0.1 --count "$count" --mqtt "$url" 2>"$work/err1"
wait "$sub"
t1=$(now_ms)
got=$(wc -l <"$work/got")
awk -v n="$got" -v ms=$((t1 - t0)) 'BEGIN { printf "2 devices, 115200 bit/s, --fast, --every 0.1: %d readings in %.2f s, %.1f readings/s\n", n, ms / 1000, n * 1000 / ms }'

# 2. A spool of N readings for device 5, as a run without a broker leaves it, then a run with one.
dir="$XDG_STATE_HOME/varnok/spool/127.0.0.1_$port/bench_COM1_5"
mkdir -p "$dir"
sample=$(head -n 1 "$work/got")
python3 - "$dir" "$spooled" "$sample" <<'EOF'
import os, sys
d, n, text = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(1, n + 1):
    with open(os.path.join(d, "%020d.json" % i), "w") as f:
        f.write(text)
EOF
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'bench/COM1/5/readings' -C $((spooled + 1)) >"$work/got2" &
sub=$!
sleep 0.3
t0=$(now_ms)
/usr/bin/time -f '%M' -o "$work/rss" "$build/bin/varnok-cli" --settings "$work/varnok.ini" --fast read --count 0 \
  --every 1 --mqtt "$url" 2>"$work/err2" &
tool=$!
pids+=($tool)
wait "$sub"
t1=$(now_ms)
kill -INT "$(pgrep -P "$tool" varnok-cli || echo "$tool")" 2>/dev/null || true
wait "$tool" || true
left=$(find "$dir" -name '*.json' | wc -l)
awk -v n="$spooled" -v ms=$((t1 - t0)) -v rss="$(cat "$work/rss")" -v left="$left" 'BEGIN {
  printf "%d spooled readings sent in %.2f s (%.0f readings/s), %d left; peak memory %.1f MiB\n", n, ms / 1000, n * 1000 / ms, left, rss / 1024 }'
