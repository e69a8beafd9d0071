#!/usr/bin/env bash
# Installs what is missing, builds, and runs the worker's self-test on a display,
# printing its result line. Exits with the worker's exit code.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=${KELVARN_BUILD_DIR:-build}
bash scripts/install-deps.sh
bash scripts/build.sh "$build_dir" -DKELVARN_TESTS=OFF
exec bash scripts/with-display.sh "$build_dir/kelvarn-remote-native" --loopback --timeout-ms 10000
