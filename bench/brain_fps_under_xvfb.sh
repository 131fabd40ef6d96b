#!/usr/bin/env bash
# The window's frames per second with the brain view closed and open, alternating runs on a
# virtual X display; prints every run (state, frames per second, processor microseconds per
# frame) and the medians of both.
#   bench/brain_fps_under_xvfb.sh build/release/bench/zemlix_brain_fps [runs each] [seconds]
set -euo pipefail
program=$(realpath "$1")
runs=${2:-5}
seconds=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Settings, kept runs and the network log stay in the scratch folder.
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
chmod 700 "$work"
for _ in $(seq "$runs"); do
  for state in closed open; do
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1366x768x24" "$program" "$seconds" "$state" | tee -a "$work/results"
  done
done
median() { grep "^$1 " "$work/results" | awk -v f="$2" '{print $f}' | sort -n | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
change() { awk -v c="$1" -v o="$2" 'BEGIN{printf "%+.1f", (o-c)*100/c}'; }
closed=$(median closed 2) open=$(median open 2)
echo "median frames per second: closed $closed, open $open ($(change "$closed" "$open") %)"
closed=$(median closed 3) open=$(median open 3)
echo "median processor time per frame: closed $closed us, open $open us ($(change "$closed" "$open") %)"
