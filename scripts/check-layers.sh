#!/usr/bin/env bash
# Fails when a source under src/ includes a folder that is not below its own.
# Each folder may include itself and the folders listed for it: the engines
# are chosen by the process alone, and nothing below the worker knows the
# protocol's session. With --graph it also prints the folders' include graph
# in Graphviz's dot language (dot -Tsvg draws it).
set -euo pipefail
graph=false
[[ ${1:-} == --graph ]] && graph=true
cd "$(dirname "${BASH_SOURCE[0]}")/../src"

declare -A below=(
  [base]=""
  [platform]="base"
  [transport]="platform base"
  [media]="platform base"
  [engine]="media platform base"
  [input]="media platform base"
  [loopback]="media platform base"
  [worker]="input media transport platform base"
  [app]="worker loopback input engine media transport platform base"
)

wrong=0
declare -A edges=()
while IFS= read -r file; do
  folder=${file%%/*}
  if [[ ! -v below[$folder] ]]; then
    echo "$file: the folder $folder has no place in the layers" >&2
    wrong=1
    continue
  fi
  while IFS= read -r included; do
    target=${included%%/*}
    [[ $included == */* && $target != "$folder" ]] || continue
    edges["$folder -> $target"]=1
    if [[ " ${below[$folder]} " != *" $target "* ]]; then
      echo "$file includes $included: $folder may include only ${below[$folder]:-itself}" >&2
      wrong=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's#^\./##' | sort)

if $graph; then
  echo "digraph layers {"
  printf '  "%s" -> "%s";\n' $(printf '%s\n' "${!edges[@]}" | sort | sed 's/ -> / /')
  echo "}"
fi
if ((wrong)); then
  exit 1
fi
# On standard error, so that the graph alone goes to standard output.
echo "every include points to a folder below its own" >&2
