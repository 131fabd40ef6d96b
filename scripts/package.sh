#!/usr/bin/env bash
# Builds the Debian package in its own build tree, without tests or benchmarks:
# build/package/zemlix_<version>-1_<architecture>.deb (and zemlix-mpi_..., where Open MPI is
# installed). Install it with
#   apt install ./build/package/zemlix_*.deb   (as root, or with sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh build/package -DCMAKE_BUILD_TYPE=Release -DZEMLIX_TESTS=OFF -DZEMLIX_BENCH=OFF
cd build/package
cpack -G DEB
