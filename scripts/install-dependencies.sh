#!/usr/bin/env bash
# Installs what Zemlix needs to build, test and run on Debian 12; skips what is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  libgtest-dev libbenchmark-dev libcli11-dev libtomlplusplus-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core
  libopenmpi-dev openmpi-bin
  clang libclang-rt-14-dev
  xvfb xauth x11-utils imagemagick xdotool
  desktop-file-utils appstream dpkg-dev file procps
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
