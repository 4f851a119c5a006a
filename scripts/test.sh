#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test
# in a plain build, under AddressSanitizer+UndefinedBehaviorSanitizer (the same
# build carries the fuzz targets, whose regression check runs there, see
# scripts/fuzz.sh) and under ThreadSanitizer. All three build with clang, which
# compiles this code about twice as fast as g++; g++ builds the "debug" and
# "release" presets (the demo builds "release"). Give preset names to run only
# those: scripts/test.sh debug. Preset "fuzz" builds the optimised fuzz targets
# and runs the same regression check on them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(clang asan-ubsan tsan)
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Many tests wait on sockets, processes or timers rather than compute, so twice
# as many run at once as there are cores.
jobs=$(($(nproc) * 2))

status=0
started=$SECONDS
for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build ($((SECONDS - started)) s so far)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" != fuzz ]; then
    echo "=== ${preset}: tests ($((SECONDS - started)) s so far)"
    if ! ctest --preset "$preset" -j "$jobs"; then
      status=1
    fi
  fi
  if [ "$preset" = asan-ubsan ] || [ "$preset" = fuzz ]; then
    echo "=== ${preset}: fuzz targets over every seed, then briefly beyond ($((SECONDS - started)) s so far)"
    if ! scripts/fuzz.sh --regression -j 2 --build-dir "build/$preset"; then
      status=1
    fi
  fi
done
echo "=== done in $((SECONDS - started)) s: $([ $status -eq 0 ] && echo passed || echo FAILED)"
exit $status
