#!/usr/bin/env bash
# Installs the Debian packages one use of the project needs, and no more.
# Quick and silent when everything is already there.
#
# usage: install-deps.sh [--webhost] [--tests] [--fuzz] [--bench] [--package] [--windows]
#   (none)     build and run the worker (the self-test on a virtual display)
#   --webhost  also the reference host application (webhost/) and a terminal
#              to show on a virtual display
#   --tests    also the test suite, the browser tests' drivers included
#   --fuzz     also the libFuzzer targets (clang and its sanitizer runtime)
#   --bench    also the benchmarks (network namespaces, shaping, packet loss)
#   --package  also the Debian package and its proof on a fresh Debian 12
#   --windows  only the cross toolchain, Wine and the Windows media stack
#              (built by scripts/windows-stack.sh from Debian's sources when
#              its cache lacks it)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

run_packages=(
  build-essential cmake ninja-build g++ pkg-config
  nlohmann-json3-dev zlib1g-dev libx11-dev libxext-dev libxrandr-dev libxtst-dev libxdamage-dev libxfixes-dev libxi-dev
  # the media engine
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-nice gstreamer1.0-libav
  # a virtual display when there is none
  xvfb x11-utils xauth
)
test_packages=(
  libgtest-dev libgmock-dev
  # tools the tests use to shape and look at the display, and to isolate the network
  x11-xserver-utils xdotool iproute2 util-linux iputils-ping nftables
  # the browser that plays the remote controller, and its driver's runtime
  chromium nodejs
  # the formatting check
  clang-format
)
webhost_packages=(nodejs xterm)
fuzz_packages=(clang libclang-rt-14-dev)
bench_packages=(libbenchmark-dev gstreamer1.0-tools iproute2 nftables iputils-ping iperf3 chromium nodejs)
package_packages=(dpkg-dev debootstrap util-linux)
windows_packages=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 googletest
                  cmake ninja-build nlohmann-json3-dev python3 xvfb x11-utils
                  # the media stack's build from Debian's source packages
                  dpkg-dev meson nasm pkg-config bison flex perl libglib2.0-dev-bin debian-archive-keyring)

install_missing_packages() {
  local wanted=("$@")
  declare -A installed=()
  while read -r name status; do
    [[ $status == ii* ]] && installed[$name]=1
  done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${wanted[@]}" 2>/dev/null || true)
  local missing=()
  for package in "${wanted[@]}"; do
    [[ -n ${installed[$package]:-} ]] || missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0

  if ((EUID != 0)); then
    echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
    return 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" </dev/null >/dev/null
}

# The npm packages of a folder, as its lock file pins them ("all", or only
# what it needs to run: "production"); again only when the lock file changed.
# Debian's nodejs has no npm of its own; a Node.js that brings one (NodeSource)
# clashes with Debian's npm package, so that is installed only when no npm is
# there at all.
install_node_packages() {
  local folder=$1 wanted=$2 stamp=$1/node_modules/.installed-lock installed=
  local lock
  lock=$(sha256sum <"$folder/package-lock.json")
  [[ -f $stamp ]] && installed=$(<"$stamp")
  # Everything installed serves a production use as well.
  [[ $installed == "$wanted $lock" || $installed == "all $lock" ]] && return 0
  command -v npm >/dev/null || install_missing_packages npm
  local omit=()
  [[ $wanted == production ]] && omit=(--omit=dev)
  (cd "$folder" && npm ci "${omit[@]}" --no-audit --no-fund --loglevel=error)
  echo "$wanted $lock" >"$stamp"
}

want_tests=false
want_webhost=false
want_bench=false
packages=("${run_packages[@]}")
for option in "$@"; do
  case $option in
    --webhost) want_webhost=true; packages+=("${webhost_packages[@]}") ;;
    --tests) want_tests=true; packages+=("${test_packages[@]}") ;;
    --fuzz) packages+=("${fuzz_packages[@]}") ;;
    --bench) want_bench=true; packages+=("${bench_packages[@]}") ;;
    --package) packages+=("${package_packages[@]}") ;;
    --windows)
      install_missing_packages "${windows_packages[@]}"
      bash scripts/windows-stack.sh >/dev/null
      exit ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done
install_missing_packages "${packages[@]}"
# The network benchmark drives Chromium with the end-to-end tests' driver.
if $want_tests || $want_bench; then
  install_node_packages tests/e2e/browser all
fi
if $want_tests; then
  install_node_packages webhost all
elif $want_webhost; then
  install_node_packages webhost production
fi
