#!/usr/bin/env bash
# Installs the Debian packages into a fresh minimal Debian 12 (debootstrap --variant=minbase)
# and runs the programs there: what a user of a bare machine gets from apt install.
# Usage: scripts/chroot-install-check.sh PACKAGE.deb...   (as root; needs the Debian mirror)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 77; }
[ $# -gt 0 ] || { echo "usage: $0 PACKAGE.deb..."; exit 2; }
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
root=$(mktemp -d /tmp/zemlix-chroot.XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$root.log" 2>&1 ||
  { tail -20 "$root.log"; exit 1; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mkdir -p "$root/packages"
cp "$@" "$root/packages/"
chroot "$root" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./packages/*.deb >/dev/null'
chroot "$root" sh -c 'cd /tmp && zemlix-sim --version && zemlix-sim --seed 1 --lifetime 500 --generations 2 --csv - --quiet'
if ls "$root"/packages/zemlix-mpi_*.deb >/dev/null 2>&1; then
  chroot "$root" sh -c 'cd /tmp && zemlix-sim-mpi --version &&
    mpirun --allow-run-as-root --oversubscribe -np 2 zemlix-sim-mpi --quiet --seeds 1-4 --lifetime 500 --generations 1 --csv - &&
    test -f /usr/share/doc/zemlix-mpi/examples/zemlix-sweep.sbatch && test -f /usr/share/man/man1/zemlix-sim-mpi.1.gz'
fi
if ls "$root"/packages/python3-zemlix_*.deb >/dev/null 2>&1; then
  chroot "$root" sh -c 'cd /tmp && python3 -c "import zemlix; print(zemlix.__version__)" &&
    python3 -c "import zemlix; w = zemlix.World(seed=1); w.run(generations=1); print(w.generation, w.positions.shape)"'
fi
chroot "$root" sh -c 'QT_QPA_PLATFORM=offscreen zemlix --version'
chroot "$root" sh -c 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq zemlix zemlix-mpi python3-zemlix >/dev/null 2>&1; ! ls /usr/bin/zemlix* 2>/dev/null'
echo "chroot install checked: $*"
