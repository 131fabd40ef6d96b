#!/usr/bin/env bash
# Cost of a tick in large worlds: 1,000, 10,000 and 100,000 bugs with as many pellets and a
# field that keeps the default density of pellets (400 x 400 for 40), on 1 and 2 threads.
# Prints microseconds per tick per bug (from the runner's own time for its ticks, which leaves
# out building the population) and the peak resident memory. Every size runs at least
# 3,000,000 bug ticks and 100 ticks, so that the 100,000-bug row is not a handful of ticks.
# Usage: bench/large_worlds.sh [path/to/zemlix-sim]
set -euo pipefail
sim=${1:-build/release/sim/zemlix-sim}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%8s %6s %7s %8s %14s %12s\n' bugs field threads ticks "us/tick/bug" "peak RSS MB"
for bugs in 1000 10000 100000; do
  side=$(awk -v n="$bugs" 'BEGIN { s = int(400 * sqrt(n / 40)); print (s > 20000 ? 20000 : s) }')
  ticks=$((3000000 / bugs))
  ticks=$((ticks < 100 ? 100 : ticks))
  for threads in 1 2; do
    /usr/bin/time -f '%M' -o "$work/rss" "$sim" --seed 1 --bugs "$bugs" --food "$bugs" \
      --set field_width="$side" --set field_height="$side" --ticks "$ticks" --threads "$threads" \
      >/dev/null 2>"$work/summary"
    # "N ticks in S s, R ticks/s": S has two decimals, R none.
    seconds=$(sed -n 's/.* ticks in \([0-9.]*\) s.*/\1/p' "$work/summary")
    awk -v b="$bugs" -v s="$side" -v t="$threads" -v n="$ticks" -v e="$seconds" -v m="$(cat "$work/rss")" \
      'BEGIN { printf "%8d %6d %7d %8d %14.3f %12.1f\n", b, s, t, n, 1e6 * e / n / b, m / 1024 }'
  done
done
