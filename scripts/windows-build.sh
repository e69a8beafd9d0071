#!/usr/bin/env bash
# Cross-builds the worker and its tests for 64-bit Windows with mingw-w64,
# against the media stack of scripts/windows-stack.sh (which install-deps.sh
# --windows builds when the cache lacks it). Prints the stack's prefix as its
# last line.
#
#   scripts/windows-build.sh [build-dir]     default build-windows
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")

bash "$root/scripts/install-deps.sh" --windows
stack=$(bash "$root/scripts/windows-stack.sh" | tail -n1)
# -O1 without debug information: several times quicker to build than the
# default, which matters on a small machine; the tests run as fast.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DCMAKE_C_FLAGS_RELEASE=-O1 -DKELVARN_WERROR=ON \
  -DKELVARN_WINDOWS_STACK="$stack" >/dev/null
ninja -C "$build" -j2 >&2
echo "$stack"
