#!/usr/bin/env bash
# The main job: builds the project (release preset) and runs the demo scenario
# with lansim: six Pacewire devices in one sync group on the simulated LAN, a
# partition that heals, and a restart of the group's parent, in virtual time.
# Options given to this script are passed on to lansim (e.g. --json, --seed 7).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# Only what the demo runs is built, so the demo does not wait for (or depend
# on) the tests and benchmarks; scripts/test.sh builds those.
log=build/release-build.log
mkdir -p build
echo "demo: building lansim with the release preset (log: $log) ..." >&2
if ! { cmake --preset release && cmake --build --preset release --target lansim; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "demo: the build failed; the whole log is in $log" >&2
  exit 1
fi

plot=build/demo-spread.svg
echo "demo: 6 devices, 40 s of virtual time: devices 1-3 cut off from 12 s to 20 s," >&2
echo "demo: the parent (10.0.0.6) restarted at 26 s and back 1 s later" >&2
build/release/tools/lansim/lansim \
  --devices 6 --groups 1 --duration 40s \
  --jitter-ms 1 --loss 1% \
  --partition 12s-20s:1-3 \
  --restart 6@26s+1s \
  --plot "$plot" \
  "$@"
