#!/usr/bin/env bash
# Builds one fuzz target with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it.
#   scripts/fuzz.sh TARGET SECONDS [RUNS]
# TARGET: answer_check, settings_file, sim_request, sim_control, link_receive, mqtt_url,
# spool_files, commission_sheet or profile_file. It runs for SECONDS, or until RUNS executions when given (SECONDS then caps it).
# It starts from the kept corpus (tests/fuzz/corpus/TARGET) and grows its own in
# build-fuzz/corpus/TARGET; a crash or a broken property leaves its input in build-fuzz/ and
# ends it with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:?usage: scripts/fuzz.sh TARGET SECONDS [RUNS]}
seconds=${2:?usage: scripts/fuzz.sh TARGET SECONDS [RUNS]}
runs=${3:-}
case "$target" in
  answer_check|settings_file|sim_request|sim_control|link_receive|mqtt_url|spool_files|commission_sheet|profile_file) ;;
  *) echo "unknown target $target (answer_check, settings_file, sim_request, sim_control, link_receive, mqtt_url, spool_files, commission_sheet, profile_file)" >&2; exit 2 ;;
esac

# The fuzz build alone needs clang and its libFuzzer runtime.
./scripts/deps.sh clang libclang-rt-dev

CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNOK_FUZZ=ON >/dev/null
cmake --build build-fuzz --target "fuzz_$target"

work="build-fuzz/corpus/$target"
mkdir -p "$work"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="build-fuzz/$target-")
[ -n "$runs" ] && args+=(-runs="$runs")
dict="tests/fuzz/dict/$target.dict"
[ -f "$dict" ] && args+=(-dict="$dict")
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
exec "build-fuzz/bin/fuzz_$target" "${args[@]}" "$work" "tests/fuzz/corpus/$target"
