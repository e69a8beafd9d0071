#!/usr/bin/env bash
# Installs the Debian packages one use of the project needs, and no more.
# Quick and silent when everything is already there.
#
# usage: install-deps.sh [--tests] [--fuzz] [--bench] [--windows]
#   (none)     build and run the worker (the self-test on a virtual display)
#   --tests    also the test suite, the browser test's driver included
#   --fuzz     also the libFuzzer targets (clang and its sanitizer runtime)
#   --bench    also the benchmarks (network namespaces, shaping, packet loss)
#   --windows  only the cross toolchain and Wine of scripts/windows-tests.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

run_packages=(
  build-essential cmake ninja-build g++ pkg-config
  nlohmann-json3-dev zlib1g-dev libx11-dev libxext-dev libxrandr-dev libxtst-dev
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
  x11-xserver-utils xdotool iproute2 util-linux
  # the browser that plays the remote controller, and its driver's runtime
  chromium nodejs
)
fuzz_packages=(clang libclang-rt-14-dev)
bench_packages=(libbenchmark-dev gstreamer1.0-tools iproute2 nftables iputils-ping)
windows_packages=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 googletest
                  cmake ninja-build nlohmann-json3-dev python3 xvfb x11-utils)

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

# The browser test's driver, pinned by its lock file. Debian's nodejs has no
# npm of its own; a Node.js that brings one (NodeSource) clashes with Debian's
# npm package, so that is installed only when no npm is there at all.
install_browser_driver() {
  local installed=tests/e2e/browser/node_modules/playwright-core/package.json
  # An earlier checkout may have left another version behind.
  if [[ -f $installed ]] && node -e '
    const [installed, wanted] = process.argv.slice(1).map((file) => require(require("path").resolve(file)));
    process.exit(installed.version === wanted.dependencies["playwright-core"] ? 0 : 1);' \
    "$installed" tests/e2e/browser/package.json; then
    return 0
  fi
  command -v npm >/dev/null || install_missing_packages npm
  (cd tests/e2e/browser && npm ci --no-audit --no-fund --loglevel=error)
}

want_tests=false
packages=("${run_packages[@]}")
for option in "$@"; do
  case $option in
    --tests) want_tests=true; packages+=("${test_packages[@]}") ;;
    --fuzz) packages+=("${fuzz_packages[@]}") ;;
    --bench) packages+=("${bench_packages[@]}") ;;
    --windows) install_missing_packages "${windows_packages[@]}"; exit ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done
install_missing_packages "${packages[@]}"
if $want_tests; then
  install_browser_driver
fi
