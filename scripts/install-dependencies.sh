#!/usr/bin/env bash
# Installs what Zemlix needs to build, test and run on Debian 12; skips what is there.
# Usage: scripts/install-dependencies.sh [--headless]
set -euo pipefail

# --headless: only what the runners need to build (zemlix-sim, zemlix-sim-mpi), for cluster
# nodes: no Qt, no test tools.
headless=(g++ cmake ninja-build pkg-config ccache libcli11-dev libtomlplusplus-dev libopenmpi-dev openmpi-bin)
packages=(
  "${headless[@]}"
  libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core
  clang libclang-rt-14-dev
  xvfb xauth x11-utils imagemagick xdotool
  desktop-file-utils appstream dpkg-dev file procps lintian
  locales
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pandas python3-matplotlib
)
case "${1:-}" in
  --headless) packages=("${headless[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--headless]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The window's locale tests run under a German desktop's locale.
if [ "${1:-}" != --headless ] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
