#!/usr/bin/env bash
# Installs every Debian/Ubuntu package that building, running and testing need.
# Quiet, and quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config dpkg-dev file
  qt6-base-dev qt6-tools-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
  libgtest-dev
  libcli11-dev nlohmann-json3-dev
  xvfb xauth imagemagick
  python3-pyatspi at-spi2-core dbus-x11
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64
  wine wine64 python3-markdown groff-base
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
