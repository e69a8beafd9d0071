#!/usr/bin/env bash
# The Windows worker's figures under Wine against the Linux worker, in one
# run on one 1280x720 virtual display: self-test time, and host CPU while
# streaming a still and a moving desktop at 30 frames/s (media_bench windows).
#
#   scripts/windows-bench.sh [--runs N] [--seconds S]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-windows
bench=$root/build-bench
source "$root/scripts/windows-env.sh"

windows_env "$build" "$(bash "$root/scripts/windows-build.sh" "$build" | tail -n1)"
bash "$root/scripts/install-deps.sh" --bench
bash "$root/scripts/build.sh" "$bench" -DCMAKE_BUILD_TYPE=Release -DKELVARN_BENCHMARKS=ON -DKELVARN_TESTS=OFF >/dev/null
unset DISPLAY
KELVARN_WINDOWS_BUILD=$build KELVARN_XVFB_SCREEN=1280x720x24 \
  bash "$root/scripts/with-display.sh" "$bench/bench/media/media_bench" windows "$@"
