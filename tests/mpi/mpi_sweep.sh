#!/usr/bin/env bash
# zemlix-sim-mpi against zemlix-sim: the same CSV and tick count for any number of ranks,
# a swept lifetime's too; a bad option gives one message and status 2; a run that loses a
# rank replaces no file, and a rerun with its journal finishes with the files of an
# uninterrupted run.
# Usage: mpi_sweep.sh ZEMLIX_SIM ZEMLIX_SIM_MPI
set -uo pipefail
sim=$1
mpi=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# In the sanitizer build LeakSanitizer would report what Open MPI keeps for the life of the
# process, through libraries whose stacks it cannot follow, so no suppression can name it.
# Address and undefined-behaviour checks stay on; the sweep code's leaks are checked by the
# sim tests, which run the same code without MPI.
mpirun=(env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
  timeout 120 mpirun --allow-run-as-root --oversubscribe)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Each small sweep: its options, its items and the ticks they take together (a swept
# lifetime: 1000 ticks an item at 500, 3000 at 1500).
smalls=("--bugs 30 --lifetime 500 --generations 2 --seeds 1-5 --sweep mutation_rate=0.05,0.2|10|10000"
  "--bugs 30 --generations 2 --seeds 1-3 --sweep lifetime=500,1500|6|12000")
for sweep in "${smalls[@]}"; do
  IFS='|' read -r options items ticks <<<"$sweep"
  read -ra small <<<"$options"
  "$sim" "${small[@]}" --csv "$scratch/plain.csv" --summary "$scratch/plain.summary" --plot "$scratch/plain.svg" \
    2>"$scratch/plain.err" || fail "zemlix-sim $options"
  for ranks in 1 2 3 8; do
    "${mpirun[@]}" -np $ranks "$mpi" "${small[@]}" --csv "$scratch/ranks$ranks.csv" \
      --summary "$scratch/ranks$ranks.summary" --plot "$scratch/ranks$ranks.svg" 2>"$scratch/ranks$ranks.err" ||
      fail "$options -np $ranks: status $?"
    for kind in csv summary svg; do
      cmp "$scratch/plain.$kind" "$scratch/ranks$ranks.$kind" || fail "$options -np $ranks: the $kind file differs"
    done
    grep -qE "^zemlix-sim: $ticks ticks in .* \($items worlds on $ranks ranks?\)$" "$scratch/ranks$ranks.err" ||
      fail "$options -np $ranks: not $ticks ticks in $items worlds: $(cat "$scratch/ranks$ranks.err")"
  done
  grep -qE "^zemlix-sim: $ticks ticks in .* \($items worlds on [0-9]+ threads?\)$" "$scratch/plain.err" ||
    fail "zemlix-sim $options: not $ticks ticks: $(cat "$scratch/plain.err")"
done

"${mpirun[@]}" -np 3 "$mpi" --seeds 1-4 --lifetime 3 --csv "$scratch/bad.csv" >"$scratch/bad.out" 2>"$scratch/bad.err"
status=$?
[ $status -eq 2 ] || fail "a bad option: status $status, not 2"
[ "$(grep -c '^zemlix-sim: ' "$scratch/bad.err")" -eq 1 ] || fail "a bad option: not one message: $(cat "$scratch/bad.err")"
grep -q "^zemlix-sim: --lifetime: must be an integer from 500 to 10000, not '3'$" "$scratch/bad.err" ||
  fail "a bad option: the message is not zemlix-sim's"
[ ! -e "$scratch/bad.csv" ] || fail "a bad option: a file was written"

# Rank 1 is killed once a few items are in the journal; mpirun then ends the job.
# Items of a large population, so the kill lands while most are still to come.
long=(--bugs 200 --food 100 --lifetime 2000 --generations 2 --seeds 1-40)
"$sim" --quiet "${long[@]}" --jobs 2 --csv "$scratch/whole.csv" || fail "zemlix-sim"
mkdir "$scratch/killed"
echo "an earlier result" >"$scratch/killed/sweep.csv"
journal=$scratch/killed/journal
"${mpirun[@]}" -np 3 "$mpi" --quiet "${long[@]}" --csv "$scratch/killed/sweep.csv" --journal "$journal" \
  >/dev/null 2>"$scratch/killed.err" &
launcher=$!
items() {
  local count
  count=$(grep -c '^item ' "$journal" 2>/dev/null)
  echo "${count:-0}"
}
for _ in $(seq 600); do
  [ "$(items)" -ge 3 ] && break
  sleep 0.05
done
killed=""
for child in $(pgrep -P "$(pgrep -P $launcher)"); do
  if tr '\0' '\n' <"/proc/$child/environ" 2>/dev/null | grep -qx 'OMPI_COMM_WORLD_RANK=1'; then
    kill -KILL "$child" && killed=$child
  fi
done
wait $launcher
status=$?
[ -n "$killed" ] || fail "no rank 1 found to kill"
[ $status -ne 0 ] || fail "the run that lost a rank ended with status 0"
[ "$(cat "$scratch/killed/sweep.csv")" = "an earlier result" ] || fail "the CSV was replaced by a partial one"
before=$(items)
[ "$before" -ge 3 ] && [ "$before" -lt 40 ] || fail "the journal holds $before items, not some of 40"
[ -z "$(ls -A "$scratch/killed" | grep -v -x -e sweep.csv -e journal)" ] || fail "files left: $(ls -A "$scratch/killed")"

"${mpirun[@]}" -np 2 "$mpi" "${long[@]}" --csv "$scratch/killed/sweep.csv" --journal "$journal" \
  2>"$scratch/rerun.err" || fail "the rerun: status $? $(cat "$scratch/rerun.err")"
cmp "$scratch/whole.csv" "$scratch/killed/sweep.csv" || fail "the rerun's CSV differs from an uninterrupted run's"
grep -qE "\($((40 - before)) worlds? on 2 ranks\)" "$scratch/rerun.err" ||
  fail "the rerun did not run just the $((40 - before)) missing items: $(cat "$scratch/rerun.err")"

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ $failures -eq 0 ]
