#!/usr/bin/env bash
# Builds the library with the simulated module and runs the main job: open
# card 0 of the simulated module and print its identification.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
./build/default/bin/quorvex_info "$@"
