#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and fuzzes each for a while.
#
#   scripts/fuzz.sh [options] [SECONDS] [TARGET...]
#
#   SECONDS       fuzzing time per target (default 60)
#   TARGET        pacewire_datagram cuebell_datagram page_message address_helpers
#                 page_channel (default: all)
#   -j N          fuzz N targets at a time (1 or 2; default 1)
#   --regression  the quick check that scripts/test.sh runs: every committed seed
#                 once, then a short reproducible run (-seed=1, at most
#                 FUZZ_REGRESSION_RUNS inputs, default 20000; SECONDS defaults to 5)
#   --no-build    use the targets already built in build/fuzz
#   --build-dir D use the targets already built in D (a build with
#                 PW_FUZZ_TARGETS=ON, such as build/asan-ubsan); implies --no-build
#
# Fuzzing works on a copy of each committed corpus (fuzz/corpus/<target>) kept
# in fuzz-corpus-work/<target>, so the committed seeds never grow by themselves;
# crashing inputs land in fuzz-corpus-work/artifacts/<target>. Ends with a table
# of executions per second and coverage (libFuzzer's cov: and ft:) per target.
# Targets run under nice -n 10: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(pacewire_datagram cuebell_datagram page_message address_helpers page_channel)
regression=0
build=1
build_dir=build/fuzz
jobs=1
seconds=
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --regression) regression=1 ;;
    --no-build) build=0 ;;
    --build-dir) shift; build_dir=${1:?--build-dir needs a directory}; build=0 ;;
    -j) shift; jobs=${1:?-j needs a number} ;;
    -j[0-9]*) jobs=${1#-j} ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) seconds=$1 ;;
    *)
      if [[ " ${all_targets[*]} " != *" $1 "* ]]; then
        echo "fuzz.sh: unknown target '$1' (targets: ${all_targets[*]})" >&2
        exit 2
      fi
      targets+=("$1") ;;
  esac
  shift
done
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
if [ -z "$seconds" ]; then
  if [ $regression -eq 1 ]; then seconds=5; else seconds=60; fi
fi
if [ "$jobs" -lt 1 ] || [ "$jobs" -gt 2 ]; then
  echo "fuzz.sh: -j takes 1 or 2" >&2
  exit 2
fi

if [ $build -eq 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi

bin_dir=$build_dir/fuzz
work_root=fuzz-corpus-work
mkdir -p "$work_root/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Per-target libFuzzer options: input lengths that fit what the target reads.
target_options() {
  case "$1" in
    pacewire_datagram) echo "-max_len=1032" ;;  # 8-byte state header + 1024-byte datagram
    cuebell_datagram) echo "-max_len=1025" ;;   # flag byte + 1024-byte datagram
    page_message) echo "-max_len=2048" ;;
    address_helpers) echo "-max_len=256 -dict=fuzz/dict/address_helpers.dict" ;;
    page_channel) echo "-max_len=4096 -dict=fuzz/dict/page_channel.dict" ;;
  esac
}

# Runs one target; its libFuzzer output goes to the log, its result to a status file.
run_target() {
  local target=$1
  local binary=$bin_dir/${target}_fuzzer
  local seeds=fuzz/corpus/$target
  local log=$work_root/logs/$target.log
  local artifacts=$work_root/artifacts/$target/
  local work
  mkdir -p "$artifacts"
  if [ $regression -eq 1 ]; then
    work=$(mktemp -d)
  else
    work=$work_root/$target
  fi
  mkdir -p "$work"
  cp -n "$seeds"/* "$work"/ 2>/dev/null || true

  local status=ok
  local started
  started=$(date +%s.%N)
  {
    if [ $regression -eq 1 ]; then
      # Every committed seed once, whole: each one passes, crashes of the past included.
      echo "=== seeds"
      nice -n 10 "$binary" -artifact_prefix="$artifacts" "$seeds"/* || status=crash
      echo "=== short run"
    fi
    if [ $status = ok ]; then
      local limit=()
      [ $regression -eq 1 ] && limit=(-seed=1 "-runs=${FUZZ_REGRESSION_RUNS:-20000}")
      # shellcheck disable=SC2046
      nice -n 10 "$binary" $(target_options "$target") "${limit[@]}" \
        -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts" "$work" || status=crash
    fi
    echo "=== elapsed $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')"
  } >"$log" 2>&1
  [ $regression -eq 1 ] && rm -rf "$work"
  echo "$status" >"$work_root/logs/$target.status"
}

echo "=== fuzzing ${targets[*]}: ${seconds} s each, $jobs at a time (logs in $work_root/logs)"
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait || true

# The figures of each run: libFuzzer's last status line and its final statistics.
failed=0
printf '%-18s %10s %9s %7s %8s %7s  %s\n' target runs exec/s cov ft corpus result
for target in "${targets[@]}"; do
  log=$work_root/logs/$target.log
  status=$(cat "$work_root/logs/$target.status" 2>/dev/null || echo missing)
  last=$(grep -E '^#[0-9]+[[:space:]].* cov: ' "$log" | tail -1 || true)
  field() { sed -n "s/.* $1: \([^ ]*\).*/\1/p" <<<"$last"; }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ "${speed:-0}" = 0 ] && [ -n "$runs" ]; then
    # A run shorter than a second: libFuzzer reports 0, so count over the whole run.
    elapsed=$(sed -n 's/^=== elapsed //p' "$log" | tail -1)
    speed=$(awk -v n="$runs" -v t="$elapsed" 'BEGIN { if (t > 0) printf "%d", n / t }')
  fi
  result=$status
  if [ "$status" != ok ]; then
    failed=1
    # The input that crashed: the unit libFuzzer wrote, or the seed it was running.
    artifact=$(sed -n 's/.*Test unit written to //p; s/^Running: //p' "$log" | tail -1)
    result="$status ${artifact:-see $log}"
  fi
  printf '%-18s %10s %9s %7s %8s %7s  %s\n' "$target" "${runs:--}" "${speed:--}" \
    "$(field cov)" "$(field ft)" "$(field corp)" "$result"
done
exit $failed
