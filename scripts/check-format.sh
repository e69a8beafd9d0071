#!/usr/bin/env bash
# Fails when a C++ file of the project differs from what clang-format makes of
# it with the project's .clang-format; with --fix it formats them instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format is missing (install-deps.sh --tests)" >&2; exit 1; }
# The project's own code; the Windows stack's stand-ins keep their upstream
# look. A source tree without git (an unpacked archive) is searched instead.
folders=(src tests bench fuzz)
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -d '' files < <(git ls-files -z -- "${folders[@]/%//*.cpp}" "${folders[@]/%//*.h}")
else
  mapfile -d '' files < <(find "${folders[@]}" \( -name '*.cpp' -o -name '*.h' \) -print0)
fi
if [[ ${1:-} == --fix ]]; then
  clang-format -i --style=file "${files[@]}"
else
  clang-format --dry-run -Werror --style=file "${files[@]}"
fi
