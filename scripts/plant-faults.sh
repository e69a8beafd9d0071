#!/usr/bin/env bash
# Plants each fault of tests/faults (or the patches given) one at a time in a
# scratch copy of the working tree, rebuilds it incrementally, runs the fast
# test tiers (ctest labels unit and process; for a fault in the engine, the
# engine's integration tests too, on a virtual display) and reports the faults
# no test caught, with a score line.
#
# usage: plant-faults.sh [PATCH...]
#   KELVARN_FAULTS_DIR  scratch directory, kept between runs for incremental
#                       builds (default: ${TMPDIR:-/tmp}/kelvarn-faults)
#   KELVARN_BUILD_LOCK  a lock file held around every build and test run, for
#                       a machine shared with other builds (default: none)
#   KELVARN_TEST_TIMEOUT  seconds per test (default: 120)
#
# A fault is a patch (-p1, from the repository root) whose first line reads
# "Fault: what it breaks"; `git diff > tests/faults/NAME.patch` after planting
# one by hand, plus that line, makes a new one. A patch that no longer applies
# or builds is reported, not fatal. Exits 0 when every fault was caught.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scratch=${KELVARN_FAULTS_DIR:-${TMPDIR:-/tmp}/kelvarn-faults}
timeout=${KELVARN_TEST_TIMEOUT:-120}
tree=$scratch/tree
build=$scratch/build
logs=$scratch/logs

if (($# > 0)); then
  patches=("$@")
else
  patches=("$repo"/tests/faults/*.patch)
fi
for patch in "${patches[@]}"; do
  [[ -f $patch ]] || { echo "plant-faults: no such patch: $patch" >&2; exit 2; }
done

if [[ -n ${KELVARN_BUILD_LOCK:-} ]]; then
  exec 9>>"$KELVARN_BUILD_LOCK"
fi
lock() { [[ -z ${KELVARN_BUILD_LOCK:-} ]] || flock 9; }
unlock() { [[ -z ${KELVARN_BUILD_LOCK:-} ]] || flock -u 9; }

# Copies only what differs, so the scratch build stays incremental; a copied
# file gets a fresh time stamp, so a fault left behind by an interrupted run
# is always rebuilt away.
sync_tree() {
  mkdir -p "$tree" "$logs"
  local file
  while IFS= read -r -d '' file; do
    [[ -f $repo/$file ]] || continue
    if ! cmp -s "$repo/$file" "$tree/$file"; then
      mkdir -p "$(dirname "$tree/$file")"
      cp "$repo/$file" "$tree/$file"
    fi
  done < <(git -C "$repo" ls-files -z --cached --others --exclude-standard)
}

# Builds what the fast tiers need and runs them; 0 pass, 1 a test failed, 2 no build.
# A test counts as failed only when it fails twice in a row, so that a test
# which fails now and then under load is not taken for a catch.
build_and_test() {
  local log=$1 engine=${2:-false} status=0
  local targets=(unit_tests input_tests process_tests) labels='^(unit|process)$'
  if $engine; then
    targets+=(integration_tests)
    labels='^(unit|process|integration)$'
  fi
  lock
  if ! cmake --build "$build" -j 2 --target "${targets[@]}" >"$log" 2>&1; then
    status=2
  elif ! bash "$repo/scripts/with-display.sh" ctest --test-dir "$build" -L "$labels" \
      --timeout "$timeout" --repeat until-pass:2 --stop-on-failure --output-on-failure >>"$log" 2>&1; then
    status=1
  fi
  unlock
  return $status
}

failed_tests() {
  cut -d: -f2- "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | head -n 3 | paste -sd ' ' -
}

planted=
revert() {
  [[ -n $planted ]] && patch -R -p1 -s -d "$tree" --no-backup-if-mismatch <"$planted" >/dev/null
  planted=
}
trap revert EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

sync_tree
if [[ ! -f $build/build.ninja ]]; then
  cmake -S "$tree" -B "$build" -G Ninja -DKELVARN_TESTS=ON -DKELVARN_WERROR=OFF >"$logs/configure.log" 2>&1 ||
    { echo "plant-faults: configuring failed, see $logs/configure.log" >&2; exit 2; }
fi

# Touches the engine: the fault's patch names a file under src/engine/.
touches_engine() { grep -q '^+++ b/src/engine/' "$1"; }

any_engine=false
for patch in "${patches[@]}"; do touches_engine "$patch" && any_engine=true; done
echo "plant-faults: ${#patches[@]} faults, scratch $scratch"
build_and_test "$logs/baseline.log" "$any_engine"
case $? in
  1) echo "plant-faults: the suite fails without any fault ($(failed_tests)); see $logs/baseline.log" >&2; exit 2 ;;
  2) echo "plant-faults: the tree does not build; see $logs/baseline.log" >&2; exit 2 ;;
esac

caught=() missed=() unapplied=() unbuilt=()
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  what=$(sed -n '1s/^Fault: //p' "$patch")
  log=$logs/$name.log
  started=$SECONDS
  if ! patch -p1 -s -d "$tree" --dry-run <"$patch" >"$log" 2>&1; then
    unapplied+=("$name")
    printf '%-12s %s\n' "not applied" "$name"
    continue
  fi
  patch -p1 -s -d "$tree" --no-backup-if-mismatch <"$patch" >/dev/null
  planted=$patch
  engine=false
  touches_engine "$patch" && engine=true
  build_and_test "$log" "$engine"
  result=$?
  revert
  case $result in
    0) missed+=("$name"); printf '%-12s %s: %s\n' "MISSED" "$name" "$what" ;;
    1) caught+=("$name"); printf '%-12s %s (%ss) by %s\n' "caught" "$name" $((SECONDS - started)) "$(failed_tests)" ;;
    2) unbuilt+=("$name"); printf '%-12s %s, see %s\n' "not built" "$name" "$log" ;;
  esac
done

total=$((${#caught[@]} + ${#missed[@]}))
echo "score: ${#caught[@]}/$total faults caught"
((${#missed[@]} == 0)) || echo "missed: ${missed[*]}"
((${#unapplied[@]} == 0)) || echo "not applied: ${unapplied[*]}"
((${#unbuilt[@]} == 0)) || echo "not built: ${unbuilt[*]}"
((${#missed[@]} + ${#unapplied[@]} + ${#unbuilt[@]} == 0))
