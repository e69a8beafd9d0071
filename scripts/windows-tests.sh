#!/usr/bin/env bash
# Builds the worker and its tests for 64-bit Windows with mingw-w64 (and the
# media stack when the cache lacks it) and runs them under Wine on a virtual
# display: the unit, input and process tests (each executable once, in its
# own Wine process), black-box checks of the worker driven from Linux
# through the stdio relay, the self-test, and a Windows host streaming to a
# Linux controller worker and to headless Chromium, whose input reaches a
# Windows window. Prints how many Windows tests ran and passed; exits
# non-zero on any failure.
#
#   scripts/windows-tests.sh            build into build-windows and test
#   KELVARN_WINDOWS_BUILD=dir ...       another build directory
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVARN_WINDOWS_BUILD:-$root/build-windows}
wine=/usr/lib/wine/wine64
native_build=${KELVARN_BUILD_DIR:-$root/build}
source "$root/scripts/windows-env.sh"

# One attribute of gtest's <testsuites> summary line.
attribute() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$2"; }

# Runs one GoogleTest executable (the command given) and adds its results to
# the totals. A suite that fails or hangs runs once more, as the native
# suite's tests do; a fault fails both runs. Each run takes seconds; five
# minutes is a hang.
run_suite() {
  local name=$1
  shift
  echo "== $name"
  if ! (cd "$build" && timeout 300 "$@" --gtest_brief=1 --gtest_output="xml:windows-results/$name.xml") ||
    [[ ! -s $results/$name.xml ]]; then
    echo "$name failed; running it once more"
    (cd "$build" && timeout 300 "$@" --gtest_brief=1 --gtest_output="xml:windows-results/$name.xml") || failed=1
  fi
  local summary tests failures errors disabled skipped
  summary=$(grep -m1 -o '<testsuites [^>]*' "$results/$name.xml" 2>/dev/null || true)
  if [[ -z $summary ]]; then
    echo "$name: no results" >&2
    failed=1
    return
  fi
  tests=$(attribute tests "$summary") failures=$(attribute failures "$summary")
  errors=$(attribute errors "$summary") disabled=$(attribute disabled "$summary")
  skipped=$(grep -c 'result="skipped"' "$results/$name.xml" || true)
  local run=$((tests - disabled)) passed=$((tests - disabled - failures - errors - skipped))
  echo "$name: $run run, $passed passed, $skipped skipped"
  total_run=$((total_run + run))
  total_passed=$((total_passed + passed))
  ((failures + errors == 0)) || failed=1
}

run_tests() {
  results=$build/windows-results total_run=0 total_passed=0 failed=0
  rm -rf "$results"
  mkdir -p "$results"
  # One wineserver for every test process, ended with them. Its helper
  # processes (explorer, services...) keep the standard streams of the Wine
  # process that started them: let a quiet one start them, on this display.
  wineserver -k 2>/dev/null || true
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  "$wine" wineboot </dev/null >/dev/null 2>&1

  # Each suite runs from the build directory, with a relative results path:
  # to a Windows program a path without a drive letter is relative.
  for suite in unit_tests:tests/unit/unit_tests.exe input_tests:tests/unit/input/input_tests.exe \
               process_tests:tests/process/process_tests.exe; do
    local name=${suite%%:*}
    run_suite "$name" "$wine" "$build/${suite#*:}"
  done

  echo "== black-box checks through the stdio relay"
  python3 "$root/scripts/windows-blackbox.py" "$build" || failed=1

  # A Linux test that drives the Windows host under Wine.
  KELVARN_WINDOWS_BUILD=$build run_suite windows_host_tests "$native_build/tests/e2e/windows_host_tests"

  echo "Windows tests: $total_run run, $total_passed passed"
  return $failed
}

if [[ ${1:-} == --run-tests ]]; then
  run_tests
  exit $?
fi

stack=$(bash "$root/scripts/windows-build.sh" "$build" | tail -n1)
# The Linux side of the end-to-end cases: the controller worker, the test
# and the browser's driver.
bash "$root/scripts/install-deps.sh" --tests
cmake -S "$root" -B "$native_build" -G Ninja -DKELVARN_WERROR=ON -DKELVARN_TESTS=ON >/dev/null
cmake --build "$native_build" -j2 --target windows_host_tests kelvarn-remote-native >/dev/null

windows_env "$build" "$stack"
"$root/scripts/with-display.sh" "$0" --run-tests
