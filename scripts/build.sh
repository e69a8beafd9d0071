#!/usr/bin/env bash
# Configures (Ninja) and builds the project.
# usage: build.sh [build-dir] [extra cmake arguments...]
# The build directory is relative to the repository root; it defaults to "build".
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=${1:-build}
(($# > 0)) && shift
jobs=$(nproc)
((jobs > 2)) && jobs=2

cmake -S . -B "$build_dir" -G Ninja -DKELVARN_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$jobs"
