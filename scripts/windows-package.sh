#!/usr/bin/env bash
# Makes the zip a Windows user unpacks: the worker, the DLLs it loads and the
# GStreamer plugins the engine uses, nothing else, in GStreamer's own layout
# (bin/ beside lib/gstreamer-1.0/, where the libraries look for plugins).
# Then proves it under Wine: the unpacked zip runs the self-test with no
# other path given, and the DLLs Wine loaded are exactly the zip's.
#
#   scripts/windows-package.sh [build-dir]     default build-windows
# Prints the zip's path and its listing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
triple=x86_64-w64-mingw32
wine=/usr/lib/wine/wine64
name=kelvarn-remote-native

stack=$(bash "$root/scripts/windows-stack.sh" | tail -n1)
bash "$root/scripts/windows-build.sh" "$build" >/dev/null
exe=$build/$name.exe

# The plugins the engine creates elements of, directly or inside webrtcbin.
plugins=(coreelements app videoconvertscale rtp rtpmanager webrtc dtls srtp sctp videoparsersbad openh264 nice)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/$name
mkdir -p "$folder/bin" "$folder/lib/gstreamer-1.0"
cp "$exe" "$folder/bin/"
for plugin in "${plugins[@]}"; do
  cp "$stack/lib/gstreamer-1.0/libgst$plugin.dll" "$folder/lib/gstreamer-1.0/"
done

# The DLLs these modules import, and theirs in turn, from the stack and the
# toolchain; a name found in neither is Windows' own.
declare -A bundled=()
pending=("$folder/bin/$name.exe" "$folder"/lib/gstreamer-1.0/*.dll)
while ((${#pending[@]} > 0)); do
  module=${pending[0]}
  pending=("${pending[@]:1}")
  while read -r dll; do
    key=${dll,,}
    [[ -n ${bundled[$key]:-} ]] && continue
    for directory in "$stack/bin" "/usr/$triple/lib" "/usr/lib/gcc/$triple/"*-posix; do
      if [[ -f $directory/$dll ]]; then
        bundled[$key]=1
        cp "$directory/$dll" "$folder/bin/"
        pending+=("$folder/bin/$dll")
        break
      fi
    done
  done < <("$triple-objdump" -p "$module" | sed -n 's/^\s*DLL Name: //p')
done

cat >"$folder/README.txt" <<'EOF'
kelvarn-remote-native for 64-bit Windows 10 or later.

Unpack the folder anywhere and start bin\kelvarn-remote-native.exe as a child
process with standard input and output as pipes (--serve), or run
bin\kelvarn-remote-native.exe --loopback --timeout-ms 20000 to test the media
path. Keep bin\ and lib\ together: the libraries find their plugins in
lib\gstreamer-1.0. The protocol is described in docs/protocol.md of the
source tree.
EOF

zip=$build/$name-windows-x64.zip
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$zip" "$name")

# The proof: the unpacked zip alone, under Wine, with no path to the stack.
source "$root/scripts/windows-env.sh"
windows_env "$build" "$stack"
unset WINEPATH
unpacked=$stage/unpacked
python3 -m zipfile -e "$zip" "$unpacked"
result=$(cd "$unpacked" && WINEDEBUG=+loaddll \
  bash "$root/scripts/with-display.sh" "$wine" "$name/bin/$name.exe" --loopback --timeout-ms 20000 \
  2>"$stage/loaded" </dev/null || true)
echo "$result"
loaded=$(grep -o 'Loaded L"[^"]*\.dll' "$stage/loaded" | sed 's/.*\\//' | tr 'A-Z' 'a-z' | sort -u |
  while read -r dll; do [[ -f $folder/bin/$dll || -f $folder/lib/gstreamer-1.0/$dll ]] && echo "$dll"; done || true)
shipped=$(cd "$folder" && find bin lib -name '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z' | sort -u)
if [[ $result != *'"success":true'* ]]; then
  echo "windows-package: the unpacked zip's self-test failed" >&2
  exit 1
fi
if [[ $loaded != "$shipped" ]]; then
  echo "windows-package: the zip's DLLs differ from those loaded:" >&2
  diff <(echo "$loaded") <(echo "$shipped") >&2 || true
  exit 1
fi
python3 -m zipfile -l "$zip"
echo "windows-package: $zip ($(du -h "$zip" | cut -f1)); all $(wc -l <<<"$shipped") DLLs were loaded by the self-test"
