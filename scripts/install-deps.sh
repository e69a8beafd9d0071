#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, fuzz and run.
# Quick and silent when everything is already there.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(
  # toolchain
  build-essential cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  # libraries of the worker, its tests and benchmarks
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  libx11-dev libxext-dev libxrandr-dev libxtst-dev
  # a virtual display for the tests, and tools to look at it
  xvfb x11-utils x11-xserver-utils xdotool xauth iproute2 util-linux
  # the media engine
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-nice gstreamer1.0-libav gstreamer1.0-tools
  # the browser that plays the remote controller in the end-to-end test
  chromium nodejs
)

install_missing_packages() {
  declare -A installed=()
  while read -r name status; do
    [[ $status == ii* ]] && installed[$name]=1
  done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null || true)
  local missing=()
  for package in "${packages[@]}"; do
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

# The browser test's driver, pinned by its lock file. Debian's npm package
# would clash with a Node.js that brings its own npm, so only its presence is checked.
install_browser_driver() {
  [[ -f tests/e2e/browser/node_modules/playwright-core/package.json ]] && return 0
  command -v npm >/dev/null || { echo "install-deps: npm is missing" >&2; return 1; }
  (cd tests/e2e/browser && npm ci --no-audit --no-fund --loglevel=error)
}

# --windows: the cross toolchain and Wine that scripts/windows-tests.sh needs, instead.
if [[ ${1:-} == --windows ]]; then
  packages=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 googletest
            cmake ninja-build nlohmann-json3-dev python3 xvfb x11-utils)
  install_missing_packages
  exit
fi
install_missing_packages
install_browser_driver
