#!/usr/bin/env bash
# zemlix-sim-mpi against zemlix-sim: the same CSV, family lines and tick count for any number of ranks,
# a swept lifetime's too; a bad option gives one message and status 2; a run that loses a
# rank replaces no file, and a rerun with its journal finishes with the files of an
# uninterrupted run; ranks given different options, a dry run and worlds beyond the memory
# are refused or answered before any file is written.
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
no_leak_check=(env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0")
mpirun=("${no_leak_check[@]}" timeout 120 mpirun --allow-run-as-root --oversubscribe)
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
    --lineage "$scratch/plain.lineage" 2>"$scratch/plain.err" || fail "zemlix-sim $options"
  for ranks in 1 2 3 8; do
    "${mpirun[@]}" -np $ranks "$mpi" "${small[@]}" --csv "$scratch/ranks$ranks.csv" \
      --summary "$scratch/ranks$ranks.summary" --plot "$scratch/ranks$ranks.svg" --lineage "$scratch/ranks$ranks.lineage" \
      2>"$scratch/ranks$ranks.err" || fail "$options -np $ranks: status $?"
    for kind in csv summary svg lineage; do
      cmp "$scratch/plain.$kind" "$scratch/ranks$ranks.$kind" || fail "$options -np $ranks: the $kind file differs"
    done
    grep -qE "^zemlix-sim-mpi: $ticks ticks in .* \($items worlds on $ranks ranks?\)$" "$scratch/ranks$ranks.err" ||
      fail "$options -np $ranks: not $ticks ticks in $items worlds: $(cat "$scratch/ranks$ranks.err")"
  done
  grep -qE "^zemlix-sim: $ticks ticks in .* \($items worlds on [0-9]+ threads?\)$" "$scratch/plain.err" ||
    fail "zemlix-sim $options: not $ticks ticks: $(cat "$scratch/plain.err")"
done

# It names itself, not the runner it shares its options with.
version=$("${no_leak_check[@]}" "$mpi" --version)
[ "$version" = "zemlix-sim-mpi $("$sim" --version | cut -d' ' -f2)" ] || fail "--version: $version"
"${no_leak_check[@]}" "$mpi" --help >"$scratch/help.txt"
grep -q '^Usage: zemlix-sim-mpi ' "$scratch/help.txt" || fail "--help does not say zemlix-sim-mpi"

"${mpirun[@]}" -np 3 "$mpi" --seeds 1-4 --lifetime 3 --csv "$scratch/bad.csv" >"$scratch/bad.out" 2>"$scratch/bad.err"
status=$?
[ $status -eq 2 ] || fail "a bad option: status $status, not 2"
[ "$(grep -c '^zemlix-sim-mpi: ' "$scratch/bad.err")" -eq 1 ] || fail "a bad option: not one message: $(cat "$scratch/bad.err")"
grep -q "^zemlix-sim-mpi: --lifetime: must be an integer from 500 to 10000, not '3'$" "$scratch/bad.err" ||
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

# Ranks launched with different options (an MPMD command line) are refused before any
# file is read or written, naming the first option that differs; the journal of an earlier
# run stays as it was, so a later correct run still finishes with the right rows.
mkdir "$scratch/mixed"
mixed=(--quiet --bugs 30 --lifetime 500 --generations 1 --seeds 1-6)
seven=(--quiet --bugs 30 --lifetime 500 --generations 1 --seeds 1-7)
journal=$scratch/mixed/journal
"${mpirun[@]}" -np 2 "$mpi" "${mixed[@]}" --csv "$scratch/mixed/first.csv" --journal "$journal" ||
  fail "the mixed options' first run: status $?"
# The last two items (a record line and a row each) left out, as by a run stopped before them.
head -n -4 "$journal" >"$scratch/journal.before"
cp "$scratch/journal.before" "$journal"
"${mpirun[@]}" -np 1 "$mpi" "${mixed[@]}" --csv "$scratch/mixed/run.csv" --journal "$journal" : \
  -np 2 "$mpi" "${mixed[@]}" --csv "$scratch/mixed/run.csv" --journal "$journal" --set mutation_rate=0.9 \
  >"$scratch/mixed.out" 2>"$scratch/mixed.err"
status=$?
[ $status -eq 2 ] || fail "ranks with different options: status $status, not 2"
expected="zemlix-sim-mpi: the ranks were given different options: --set mutation_rate is the default 0.05 on rank 0 but 0.9 on rank 1"
[ "$(grep '^zemlix-sim-mpi: ' "$scratch/mixed.err")" = "$expected" ] ||
  fail "ranks with different options: $(cat "$scratch/mixed.err")"
cmp "$journal" "$scratch/journal.before" || fail "ranks with different options: the journal changed"
[ "$(ls -A "$scratch/mixed")" = "$(printf 'first.csv\njournal')" ] ||
  fail "ranks with different options: files written: $(ls -A "$scratch/mixed")"
"${mpirun[@]}" -np 1 "$mpi" "${mixed[@]}" --csv "$scratch/mixed/run.csv" --journal "$journal" : \
  -np 1 "$mpi" "${seven[@]}" --csv "$scratch/mixed/run.csv" --journal "$journal" 2>"$scratch/mixed.err"
[ $? -eq 2 ] && grep -qx "zemlix-sim-mpi: .* --seeds is 1-6 on rank 0 but 1-7 on rank 1" "$scratch/mixed.err" ||
  fail "ranks with different seeds: $(cat "$scratch/mixed.err")"
"$sim" "${mixed[@]}" --jobs 1 --csv "$scratch/mixed/plain.csv" || fail "zemlix-sim for the mixed options"
"${mpirun[@]}" -np 2 "$mpi" "${mixed[@]}" --csv "$scratch/mixed/run.csv" --journal "$journal" ||
  fail "the correct run after the refused one: status $?"
cmp "$scratch/mixed/plain.csv" "$scratch/mixed/run.csv" || fail "the correct run after the refused one: other rows"

# A dry run says what the ranks would run and writes nothing.
"${mpirun[@]}" -np 2 "$mpi" --dry-run "${mixed[@]}" --csv "$scratch/dry.csv" >"$scratch/dry.out" 2>&1 ||
  fail "a dry run: status $? $(cat "$scratch/dry.out")"
grep -qx "would run 6 worlds (6 seeds at 1 grid point) for 3000 ticks in all, 2 at once on 2 ranks" "$scratch/dry.out" ||
  fail "a dry run: $(cat "$scratch/dry.out")"
[ ! -e "$scratch/dry.csv" ] || fail "a dry run wrote the CSV"

# Ranks that together need more memory than their node has are refused before any work:
# three worlds of about 11 GB each on a machine of 24 GB.
available=$(awk '/^MemAvailable:/ { printf "%d", $2 * 1024 }' /proc/meminfo)
if [ -n "$available" ] && [ "$available" -lt 30000000000 ]; then
  "${mpirun[@]}" -np 3 "$mpi" --bugs 100000 --set 'hidden_layers=[64,64,64,64]' --seeds 1-3 \
    --csv "$scratch/huge.csv" >"$scratch/huge.out" 2>"$scratch/huge.err"
  status=$?
  [ $status -eq 2 ] || fail "worlds beyond the memory: status $status, not 2"
  [ "$(grep -c '^zemlix-sim-mpi: ' "$scratch/huge.err")" -eq 1 ] &&
    grep -qE "^zemlix-sim-mpi: not enough memory: the run needs about [0-9.]+ GB \(3 worlds at once, each up to [0-9.]+ GB: 100000 bugs, 40 pellets, hidden layers \[64,64,64,64\]\), but [0-9.]+ GB is available on .* \(3 ranks there, rank [0-2] among them\); use fewer or smaller worlds$" \
      "$scratch/huge.err" || fail "worlds beyond the memory: $(cat "$scratch/huge.err")"
  [ ! -e "$scratch/huge.csv" ] || fail "worlds beyond the memory: the CSV was written"
fi

# A rank that runs out of memory (an address-space limit far below the memory available,
# so the estimate lets the run start) fails the batch with one line naming the item and the
# rank, and leaves no temporary file. The sanitizers reserve more than any such limit.
if ! ldd "$mpi" | grep -q libasan && [ -n "$available" ] && [ "$available" -gt 4000000000 ]; then
  mkdir "$scratch/oom"
  (
    ulimit -v 1500000
    "${mpirun[@]}" -np 2 "$mpi" --quiet --bugs 14000 --set 'hidden_layers=[64,64,64,64]' --ticks 1 --seeds 1-3 \
      --csv "$scratch/oom/run.csv" >"$scratch/oom.out" 2>"$scratch/oom.err"
  )
  status=$?
  [ $status -eq 1 ] || fail "a rank out of memory: status $status, not 1"
  [ "$(grep -c '^zemlix-sim-mpi: ' "$scratch/oom.err")" -eq 1 ] &&
    grep -qE '^zemlix-sim-mpi: not enough memory for seed [1-3] on rank [01]$' "$scratch/oom.err" ||
    fail "a rank out of memory: $(cat "$scratch/oom.err")"
  [ -z "$(ls -A "$scratch/oom")" ] || fail "a rank out of memory: files left: $(ls -A "$scratch/oom")"
fi

echo "$((failures == 0 ? 1 : 0)) passed, $((failures == 0 ? 0 : 1)) failed"
[ $failures -eq 0 ]
