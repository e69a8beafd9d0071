#!/usr/bin/env bash
# Installs what is missing, builds with the tests, and runs the whole suite on a
# display. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=${KELVARN_BUILD_DIR:-build}
bash scripts/install-deps.sh --tests
bash scripts/build.sh "$build_dir" -DKELVARN_TESTS=ON
exec bash scripts/with-display.sh \
  ctest --test-dir "$build_dir" --output-on-failure --timeout "${KELVARN_TEST_TIMEOUT:-300}"
