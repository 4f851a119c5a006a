#!/usr/bin/env bash
# The main job: builds the project and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
echo "The demo scenario is not built yet: the simulator program arrives with the tools."
echo "Build finished; run scripts/test.sh for the test suite."
