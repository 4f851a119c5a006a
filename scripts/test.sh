#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test
# in a plain build, under AddressSanitizer+UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and runs every fuzz target over its seed corpus and briefly
# beyond it (preset "fuzz", see scripts/fuzz.sh). Give preset names to run only
# those: scripts/test.sh debug
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(debug asan-ubsan tsan fuzz)
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = fuzz ]; then
    echo "=== fuzz: every seed, then a short reproducible run per target"
    if ! scripts/fuzz.sh --regression --no-build; then
      status=1
    fi
    continue
  fi
  echo "=== ${preset}: tests"
  if ! ctest --preset "$preset" -j "$(nproc)"; then
    status=1
  fi
done
exit $status
