#!/usr/bin/env bash
# The chaos campaign at scale: N seeds of pacewire-chaos (default 2000), in batches, with a
# progress line and a summary. A seed that breaks an invariant, or crashes the program, is
# printed with the command that replays it.
#
#   scripts/chaos.sh [N] [--first-seed S] [--churn] [--asan] [--quiet-phase TIME]
#
#   --churn   destruction under load instead of the election campaign
#   --asan    an AddressSanitizer+UndefinedBehaviorSanitizer build (slower; catches leaks too)
#
# It builds the program in build/chaos (build/chaos-asan), runs it under nice, and uses no
# more than one core. Exit status: 0 when every seed held, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

seeds=2000
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seeds=$1
  shift
fi
first=1
passed=()
sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --first-seed) first=$2; shift 2 ;;
    --churn) passed+=(--churn); shift ;;
    --quiet-phase) passed+=(--quiet-phase "$2"); shift 2 ;;
    --asan) sanitize=address-undefined; shift ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "chaos.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
batch=${PW_CHAOS_BATCH:-100}

if [ -n "$sanitize" ]; then
  build=build/chaos-asan
  configure=(-DCMAKE_BUILD_TYPE=Debug -DPW_SANITIZE="$sanitize")
else
  build=build/chaos
  configure=(-DCMAKE_BUILD_TYPE=Release)
fi
echo "chaos.sh: building pacewire-chaos in $build"
cmake -S . -B "$build" -G Ninja -DPW_WERROR=ON -DPW_BUILD_BENCH=OFF "${configure[@]}" >/dev/null
if ! nice -n 10 cmake --build "$build" --target pacewire-chaos -j 2 >"$build/chaos-build.log" 2>&1; then
  tail -n 30 "$build/chaos-build.log" >&2
  exit 1
fi
program=$build/tools/chaos/pacewire-chaos

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
crashed=()
done_seeds=0
started=$(date +%s)
last=$((first + seeds - 1))

replay() {
  echo "pacewire-chaos${passed[*]+ ${passed[*]}} --seed $1"
}

# Runs seeds one by one to find which of a batch crashed.
find_crashes() {
  local seed status
  for ((seed = $1; seed < $1 + $2; ++seed)); do
    set +e
    nice -n 10 "$program" "${passed[@]}" --seed "$seed" >"$work/one.txt" 2>&1
    status=$?
    set -e
    if [ "$status" -gt 1 ]; then
      crashed+=("$seed")
      echo "CRASH seed $seed (exit status $status); replay: $(replay "$seed")"
      grep -m 5 -E "ERROR|runtime error|Segmentation|Abort" "$work/one.txt" | sed 's/^/  /' || true
    fi
  done
}

for ((start = first; start <= last; start += batch)); do
  count=$((last - start + 1 < batch ? last - start + 1 : batch))
  set +e
  nice -n 10 "$program" "${passed[@]}" --first-seed "$start" --seeds "$count" --no-progress \
    >"$work/batch.txt" 2>&1
  status=$?
  set -e
  case $status in
    0) ;;
    1)
      # Each failing seed: its lines up to the plan, and the replay command.
      awk '/^FAIL/ {show = 1} /^  \|/ {show = 0} /^ok/ {show = 0} show' "$work/batch.txt"
      while read -r seed; do failed+=("$seed"); done < <(
        awk '/^FAIL/ {s = $2 == "churn" ? $4 : $3; sub(/:$/, "", s); print s}' "$work/batch.txt")
      ;;
    *) find_crashes "$start" "$count" ;;
  esac
  grep -E '^  (election|parent order|spread|memory):|^pacewire-chaos --churn:' "$work/batch.txt" \
    >>"$work/figures.txt" || true
  done_seeds=$((done_seeds + count))
  printf 'chaos.sh: %d/%d seeds, %d failed, %d crashed, %ds\n' "$done_seeds" "$seeds" \
    "${#failed[@]}" "${#crashed[@]}" "$(($(date +%s) - started))" >&2
done

echo
echo "chaos.sh: $seeds seeds from $first to $last: ${#failed[@]} failed, ${#crashed[@]} crashed," \
  "$(($(date +%s) - started)) s"
if [ -s "$work/figures.txt" ]; then
  # The worst figure of every batch, over all batches.
  awk '
    /election:/ {
      v = $7 + 0; if (!seen_settle || v > settle) settle = v
      v = $17 + 0; if (!seen_settle || v < slack) slack = v; seen_settle = 1
    }
    /spread:/ {
      v = $4 + 0; if (v > spread) spread = v
      s = $6; gsub(/[(%]/, "", s); if (s + 0 > share) share = s + 0; seen_spread = 1
    }
    /memory:/ { v = $6 + 0; if (!seen_heap || v > heap) heap = v; seen_heap = 1 }
    /--churn:/ {
      n = split($0, f, "at most "); split(f[n], g, " ")
      if (!seen_churn || g[1] + 0 > churn) churn = g[1] + 0; seen_churn = 1
    }
    END {
      if (seen_settle) printf "  election: settled at most Q + %.3f s after the faults stopped; smallest slack to the bound %.3f s\n", settle, slack
      if (seen_spread) printf "  spread: at most %.3f ms (%d%% of its limit)\n", spread, share
      if (seen_heap) printf "  memory: heap grew at most %d bytes in a quiet phase\n", heap
      if (seen_churn) printf "  churn: heap grew at most %d bytes per restart\n", churn
    }' "$work/figures.txt"
fi
for seed in ${failed[@]+"${failed[@]}"}; do
  echo "  replay: $(replay "$seed")"
done
for seed in ${crashed[@]+"${crashed[@]}"}; do
  echo "  replay (crash): $(replay "$seed")"
done
[ ${#failed[@]} -eq 0 ] && [ ${#crashed[@]} -eq 0 ]
