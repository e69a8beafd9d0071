#!/usr/bin/env bash
# Makes the Debian package of the worker with CPack, then proves it on a fresh
# Debian 12: in a minimal chroot that debootstrap makes for this run alone,
# `apt-get install ./FILE.deb` pulls in what it needs, the self-test runs from
# /usr/bin on a virtual display, and the packages it depends on are exactly
# those that hold the libraries the worker links and the GStreamer plugins it
# loaded.
#
#   scripts/package-deb.sh [build-dir]     default build-deb
# Runs as root (debootstrap, chroot, and mounts in a namespace of its own that
# ends with the run) and needs a Debian mirror: the machine's own, else
# deb.debian.org. Downloaded packages are kept in KELVARN_DEB_CACHE
# (/var/cache/kelvarn-deb) between runs; nothing else is. Prints the package's
# path and its control fields.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name=kelvarn-remote-native
suite=bookworm
cache=${KELVARN_DEB_CACHE:-/var/cache/kelvarn-deb}

# ---- inside the chroot: install the package as a user would, and check it --------
check_installed_package() {
  local deb=$1 display=:7 log=/tmp/loaded worker result
  apt-get update -qq
  apt-get install -y -qq "$deb" >/dev/null
  # The display is for the self-test only; installed after the package, so
  # that it cannot bring in what the package lacks.
  apt-get install -y -qq --no-install-recommends xvfb >/dev/null
  for doc in README.md protocol.md; do
    [[ -f /usr/share/doc/$name/$doc ]] || { echo "package-deb: $doc is not installed" >&2; return 1; }
  done

  # Xvfb ends with the namespace. The worker runs in the background only so
  # that its process id, which names its loader log, is known.
  Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp 2>/dev/null &
  for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
  DISPLAY=$display LD_DEBUG=files LD_DEBUG_OUTPUT=$log "/usr/bin/$name" --loopback --timeout-ms 20000 \
    >/tmp/result 2>/dev/null </dev/null &
  worker=$!
  wait "$worker" || true
  result=$(cat /tmp/result)
  echo "$result"
  [[ $result == *'"success":true'* ]] || { echo "package-deb: the installed self-test failed" >&2; return 1; }

  # What the worker itself loaded (the plugin scanner GStreamer starts on a
  # first run writes a log of its own): the libraries it names, and plugins.
  local needed loaded owners depends
  needed=$(sed -n "s|.*file=\([^ ]*\) \[0\];  needed by /usr/bin/$name .*|\1|p" "$log.$worker" | sort -u)
  loaded=$(sed -n 's/.*calling init: //p' "$log.$worker" | sort -u |
    while read -r path; do
      if [[ $path == */gstreamer-1.0/* ]] || grep -qxF "$(basename "$path")" <<<"$needed"; then echo "$path"; fi
    done)
  # dpkg knows a file by the path its package ships, with or without /usr.
  owners=$(while read -r path; do
      dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}"
    done <<<"$loaded" | sed 's/[:,].*//' | sort -u)
  depends=$(dpkg-query -W -f='${Depends}' "$name" | tr ',' '\n' | sed 's/(.*//; s/ //g' | sort -u)
  if [[ $owners != "$depends" ]]; then
    echo "package-deb: the package's dependencies (<) differ from the packages the worker loaded (>):" >&2
    diff <(echo "$depends") <(echo "$owners") >&2 || true
    return 1
  fi
  echo "package-deb: it depends on exactly the $(wc -l <<<"$depends") packages the worker loaded"
}

# ---- inside a private mount and PID namespace: a fresh Debian 12 ---------------
prove_in_fresh_debian() {
  local deb=$1 target=$2 mirror=$3 security=$4
  mkdir -p "$cache/debootstrap" "$cache/archives/partial"
  debootstrap --variant=minbase --cache-dir="$cache/debootstrap" "$suite" "$target" "$mirror" >/dev/null
  printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\n' \
    "$mirror" "$suite" "$suite" "$security" "$suite" >"$target/etc/apt/sources.list.d/debian.sources"
  rm -f "$target/etc/apt/sources.list"
  mount -t proc proc "$target/proc"
  mount --bind /dev "$target/dev"
  mount --bind /dev/pts "$target/dev/pts"
  mount -t tmpfs tmpfs "$target/tmp"
  mount --bind "$cache/archives" "$target/var/cache/apt/archives"
  cp -L /etc/resolv.conf "$target/etc/resolv.conf"
  cp "$deb" "$target/tmp/"
  chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive bash -c "$(declare -p name; declare -f check_installed_package)
      set -euo pipefail; check_installed_package /tmp/$(basename "$deb")"
}

if [[ ${1:-} == --fresh-debian-- ]]; then
  shift
  prove_in_fresh_debian "$@"
  exit
fi

# ---- the package -----------------------------------------------------------------
build=$(realpath -m "${1:-$root/build-deb}")
((EUID == 0)) || { echo "package-deb: run this as root" >&2; exit 1; }
bash "$root/scripts/install-deps.sh" --package
bash "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARN_TESTS=OFF
rm -f "$build/$name"_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build/$name"_*.deb)

# The machine's own mirrors when its sources name them (deb822, URIs before
# Suites), as a new machine beside it would use.
mirror_of() {
  awk -v suite="$1" 'tolower($1) == "uris:" { uri = $2 }
    tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == suite) { print uri; exit } }' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null
}
mirror=$(mirror_of "$suite")
mirror=${mirror:-http://deb.debian.org/debian}
security=$(mirror_of "$suite-security")
security=${security:-http://deb.debian.org/debian-security}
scratch=$(mktemp -d "${TMPDIR:-/var/tmp}/$name-deb.XXXXXX")
# Every mount lives in the namespace, which ends with its last process: the
# tree is removed only afterwards, and never across a file system boundary.
trap 'rm -rf --one-file-system "$scratch"' EXIT
unshare --mount --propagation private --pid --fork --kill-child -- \
  bash "$root/scripts/package-deb.sh" --fresh-debian-- "$deb" "$scratch/root" "$mirror" "$security"
dpkg-deb --field "$deb"
echo "package-deb: $deb ($(du -h "$deb" | cut -f1))"
