#!/usr/bin/env bash
# Cross-builds the Windows media stack (GLib, OpenSSL, libsrtp2, OpenH264,
# libnice and the GStreamer elements the engine uses) from Debian 12's source
# packages with mingw-w64, into a prefix cached outside the clone. Prints the
# prefix's path as its last line; quick when the cache already holds it.
# Its tools come with `scripts/install-deps.sh --windows`, which runs it.
#
#   scripts/windows-stack.sh              build when needed, print the prefix
#   KELVARN_WINDOWS_STACK_CACHE=dir ...   another cache folder
#
# The prefix is keyed by this script, the files beside it (the lock list of
# source packages, the cross file, the libintl stand-in) and the compiler's
# version. It is built in a folder of its own and renamed when complete, so a
# killed build never looks finished; the next run picks up the finished
# components of the same key and rebuilds the rest.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
recipe=$root/scripts/windows-stack
triple=x86_64-w64-mingw32
jobs=$(($(nproc) > 2 ? 2 : $(nproc)))

if ((EUID == 0)); then
  default_cache=/var/cache/kelvarn-remote-native/windows-stack
else
  default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/kelvarn-remote-native/windows-stack
fi
cache=${KELVARN_WINDOWS_STACK_CACHE:-$default_cache}

log() { echo "windows-stack: $*" >&2; }

stack_key() {
  {
    sha256sum "$root/scripts/windows-stack.sh" "$recipe"/lock.txt "$recipe"/cross.ini.in "$recipe"/libintl/*
    "$triple-gcc-posix" --version | head -n1
  } | sed "s|$root/||" | sha256sum | cut -c1-16
}

for tool in "$triple-gcc-posix" meson nasm dpkg-source glib-mkenums; do
  command -v "$tool" >/dev/null || { log "$tool is missing: run scripts/install-deps.sh --windows"; exit 1; }
done
key=$(stack_key)
final=$cache/$key
if [[ -f $final/.complete ]]; then
  echo "$final"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
# Another run may have finished it while this one waited.
if [[ -f $final/.complete ]]; then
  echo "$final"
  exit 0
fi

# One build in progress at a time, under a fixed path that the installed
# pkg-config files name until the rename.
work=$cache/building
if [[ ! -f $work/key || $(<"$work/key") != "$key" ]]; then
  rm -rf "$work"
  mkdir -p "$work"
  echo "$key" >"$work/key"
fi
prefix=$work/prefix
downloads=$cache/downloads
mkdir -p "$prefix/bin" "$prefix/include" "$prefix/lib/pkgconfig" "$downloads" "$work/src"
started=$SECONDS

export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/$triple/lib/pkgconfig
export PKG_CONFIG_PATH=
sed "s|@PREFIX@|$prefix|g" "$recipe/cross.ini.in" >"$work/cross.ini"

# apt with a source list of its own: the system's configuration stays as it is.
apt_dir=$cache/apt
apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$apt_dir/lists" -o APT::Get::List-Cleanup=0 -o Debug::NoLocking=1)
source_indexes_updated=false
update_source_indexes() {
  $source_indexes_updated && return 0
  mkdir -p "$apt_dir/lists/partial"
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security bookworm-security main
EOF
  apt-get "${apt_options[@]}" update -qq >/dev/null
  source_indexes_updated=true
}

# Unpacks one source package, Debian's patches applied, into $work/src/NAME.
# The pinned revision first; failing that, the newest of the same upstream version.
unpack_source() {
  local name=$1 version=$2 dsc
  dsc=$(ls "$downloads/${name}_${version#*:}.dsc" 2>/dev/null || true)
  if [[ -z $dsc ]]; then
    update_source_indexes
    if ! (cd "$downloads" && apt-get "${apt_options[@]}" source --download-only "$name=$version" >/dev/null 2>&1); then
      local upstream=${version%-*} candidate
      candidate=$(apt-cache "${apt_options[@]}" showsrc "$name" | sed -n 's/^Version: //p' |
        grep -F "$upstream-" | sort -V -r | while read -r v; do
          (cd "$downloads" && apt-get "${apt_options[@]}" source --download-only "$name=$v" >/dev/null 2>&1) &&
            { echo "$v"; break; }
        done)
      [[ -n $candidate ]] || { log "cannot download $name $upstream from Debian's archive"; return 1; }
      log "$name $version is no longer offered; built $candidate instead"
      version=$candidate
    fi
    dsc=$downloads/${name}_${version#*:}.dsc
  fi
  rm -rf "$work/src/$name"
  dpkg-source --no-check -x "$dsc" "$work/src/$name" >/dev/null
  echo "$name ${version}" >>"$work/built-versions"
}

meson_component() {
  local name=$1
  shift
  local source=$work/src/$name build=$work/src/$name/_build
  meson setup "$build" "$source" --cross-file "$work/cross.ini" --prefix "$prefix" --libdir lib \
    --buildtype release --wrap-mode nodownload --default-library shared "$@" >"$work/$name.log" 2>&1 &&
    ninja -C "$build" -j "$jobs" >>"$work/$name.log" 2>&1 &&
    meson install -C "$build" --strip >>"$work/$name.log" 2>&1
}

autotools_component() {
  local name=$1
  shift
  (cd "$work/src/$name" &&
    ./configure --host="$triple" --prefix="$prefix" --enable-shared --disable-static "$@" &&
    make -j "$jobs" && make install) >"$work/$name.log" 2>&1
}

build_libintl() {
  "$triple-gcc-posix" -O2 -c "$recipe/libintl/libintl.c" -o "$work/libintl.o" &&
    "$triple-ar" rcs "$prefix/lib/libintl.a" "$work/libintl.o" &&
    cp "$recipe/libintl/libintl.h" "$prefix/include/"
}

build_libffi() { autotools_component libffi --disable-docs --disable-multi-os-directory; }
build_pcre2() { autotools_component pcre2 --disable-pcre2grep-libz --disable-pcre2grep-libbz2; }

build_glib2.0() {
  meson_component glib2.0 -Dnls=disabled -Dtests=false -Dinstalled_tests=false -Dman=false -Dgtk_doc=false \
    -Dlibmount=disabled -Dselinux=disabled -Dxattr=false -Dsysprof=disabled -Dlibelf=disabled \
    -Ddtrace=false -Dsystemtap=false -Dglib_debug=disabled
}

build_openssl() {
  (cd "$work/src/openssl" &&
    ./Configure mingw64 --cross-compile-prefix="$triple-" --prefix="$prefix" --libdir=lib \
      shared no-tests &&
    make -j "$jobs" build_libs && make install_dev) >"$work/openssl.log" 2>&1
}

build_libsrtp2() {
  meson_component libsrtp2 -Dcrypto-library=openssl -Dtests=disabled -Ddoc=disabled -Dpcap-tests=disabled
}
build_openh264() { meson_component openh264 -Dtests=disabled; }

# Each GStreamer module with only what the engine uses.
gstreamer_options=(--auto-features=disabled -Dnls=disabled -Ddoc=disabled -Dexamples=disabled -Dtests=disabled)
build_gstreamer1.0() {
  meson_component gstreamer1.0 "${gstreamer_options[@]}" -Dtools=enabled -Dcheck=disabled \
    -Dptp-helper-permissions=none
}
build_gst-plugins-base1.0() {
  meson_component gst-plugins-base1.0 "${gstreamer_options[@]}" -Dapp=enabled -Dvideoconvertscale=enabled \
    -Dvideotestsrc=enabled
}
build_libnice() {
  meson_component libnice -Dgstreamer=enabled -Dcrypto-library=openssl -Dgupnp=disabled -Dtests=disabled \
    -Dexamples=disabled -Dintrospection=disabled -Dgtk_doc=disabled
}
build_gst-plugins-good1.0() {
  meson_component gst-plugins-good1.0 "${gstreamer_options[@]}" -Drtp=enabled -Drtpmanager=enabled
}
build_gst-plugins-bad1.0() {
  meson_component gst-plugins-bad1.0 "${gstreamer_options[@]}" -Dwebrtc=enabled -Ddtls=enabled -Dsrtp=enabled \
    -Dsctp=enabled -Dsctp-internal-usrsctp=enabled -Dvideoparsers=enabled -Dopenh264=enabled
}

# Runs one component unless this key's build already finished it.
component() {
  local name=$1 version=${2:-} began=$SECONDS
  [[ -f $work/done-$name ]] && return 0
  log "building $name ${version}"
  [[ -z $version ]] || unpack_source "$name" "$version"
  if ! "build_$name"; then
    log "$name failed; the last lines of $work/$name.log:"
    tail -n 30 "$work/$name.log" >&2 2>/dev/null || true
    return 1
  fi
  touch "$work/done-$name"
  log "$name built in $((SECONDS - began)) s"
}

component libintl
while read -r name version; do
  [[ -z $name || $name == \#* ]] && continue
  component "$name" "$version"
done <"$recipe/lock.txt"

# The posix thread model's runtime, which the C++ and threaded parts import.
cp "/usr/$triple/lib/libwinpthread-1.dll" "$prefix/bin/"
# Libtool archives and the build's own path in the pkg-config files would
# point at the temporary folder.
find "$prefix" -name '*.la' -delete
grep -rlF "$prefix" "$prefix/lib/pkgconfig" | xargs -r sed -i "s|$prefix|$final|g"
awk '!seen[$0]++' "$work/built-versions" >"$prefix/versions.txt"
touch "$prefix/.complete"
rm -rf "$final"
mv "$prefix" "$final"
rm -rf "$work"
log "stack built in $((SECONDS - started)) s; prefix $(du -sh "$final" | cut -f1) in $final"
echo "$final"
