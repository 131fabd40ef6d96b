#!/usr/bin/env bash
# Installs what is missing, builds, and opens the Zemlix window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
No display found, so the window cannot open here.
  - On a desktop, run this from a terminal inside the desktop session.
  - Over SSH, connect with X forwarding (ssh -X) and run it again.
  - To see it without a screen: xvfb-run -s "-screen 0 1024x768x24" build/release/app/zemlix
  - For the simulation alone, without a window: build/release/sim/zemlix-sim --help
MSG
  exit 1
fi
exec build/release/app/zemlix
