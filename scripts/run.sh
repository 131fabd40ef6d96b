#!/usr/bin/env bash
# Installs what is missing, builds, and runs the simulation: scripts/run.sh [zemlix-sim options]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release
exec build/release/sim/zemlix-sim "$@"
