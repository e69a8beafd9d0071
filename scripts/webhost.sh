#!/usr/bin/env bash
# Installs what is missing, builds the worker and starts the reference host
# application on this display, or on a virtual one (with a terminal to see and
# type into) when there is none. Prints the address to open; Ctrl-C stops it.
# Arguments go to the host application: see `node webhost/main.mjs --help`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [[ ${1:-} == --on-display ]]; then
  shift
  if [[ -n ${KELVARN_VIRTUAL_DISPLAY:-} ]]; then
    # Ends with the virtual display.
    xterm -fa Monospace -fs 13 -geometry 100x30+40+40 2>/dev/null &
  fi
  exec node webhost/main.mjs "$@"
fi

build_dir=${KELVARN_BUILD_DIR:-build}
bash scripts/install-deps.sh --webhost
bash scripts/build.sh "$build_dir" -DKELVARN_TESTS=OFF
KELVARN_WORKER=$(realpath "$build_dir")/kelvarn-remote-native exec bash scripts/with-display.sh bash scripts/webhost.sh --on-display "$@"
