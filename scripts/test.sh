#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test
# in a plain build, under AddressSanitizer+UndefinedBehaviorSanitizer (the same
# build carries the fuzz targets, whose regression check runs there, see
# scripts/fuzz.sh) and under ThreadSanitizer. All three build with clang, which
# compiles this code about twice as fast as g++; g++ builds the "debug" and
# "release" presets (the demo builds "release"). Give preset names to run only
# those: scripts/test.sh debug. Preset "fuzz" builds the optimised fuzz targets
# and runs the same regression check on them.
#
# Most tests wait on sockets, processes and timers rather than compute, so a
# preset's tests run while the next preset builds, the build at a lower priority
# so that the tests get the processor whenever they want it. Each preset's test
# output is shown whole when its tests end (and kept in build/<preset>/tests.log).
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

# Three times as many tests at once as there are cores: most of them wait.
jobs=$(($(nproc) * 3))
started=$SECONDS
status=0

say() { echo "=== $* ($((SECONDS - started)) s so far)"; }

# One preset's tests (and, where the build has them, the fuzz regression check).
run_tests() {
  local preset=$1 result=0
  if [ "$preset" != fuzz ]; then
    ctest --preset "$preset" -j "$jobs" || result=1
  fi
  if [ "$preset" = asan-ubsan ] || [ "$preset" = fuzz ]; then
    echo "=== fuzz targets over every seed, then briefly beyond"
    scripts/fuzz.sh --regression -j 2 --build-dir "build/$preset" || result=1
  fi
  return $result
}

testing_pid=
testing_preset=
# Waits for the tests running in the background and shows what they printed.
collect_tests() {
  [ -n "$testing_pid" ] || return 0
  local result=0
  wait "$testing_pid" || result=1
  say "${testing_preset}: tests $([ $result -eq 0 ] && echo passed || echo FAILED)"
  cat "build/${testing_preset}/tests.log"
  [ $result -eq 0 ] || status=1
  testing_pid=
}

for preset in "${presets[@]}"; do
  say "${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  if ! nice -n 10 cmake --build --preset "$preset"; then
    collect_tests
    say "${preset}: build FAILED"
    exit 1
  fi
  collect_tests
  say "${preset}: tests started"
  run_tests "$preset" >"build/${preset}/tests.log" 2>&1 &
  testing_pid=$!
  testing_preset=$preset
done
collect_tests
say "done: $([ $status -eq 0 ] && echo passed || echo FAILED)"
exit $status
