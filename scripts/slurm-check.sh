#!/usr/bin/env bash
# Runs the README's Slurm example on a one-node cluster started on this machine, and checks
# that its files are byte for byte those of zemlix-sim with the same options.
# Usage: scripts/slurm-check.sh [BUILD_DIR]   (default build/release; needs root)
# Exits 77 (skipped) where Slurm cannot be installed or started.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(cd "${1:-build/release}" && pwd)
example=$source/packaging/slurm/zemlix-sweep.sbatch

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "a one-node cluster needs root"
[ -x "$build/mpi/zemlix-sim-mpi" ] || skip "no zemlix-sim-mpi in $build"

# The README shows the example file itself, line for line.
sed -n '/^    #!\/bin\/bash$/,/^    *--journal/p' README.md | sed 's/^    //' | diff - "$example" >/dev/null ||
  { echo "FAIL: the README's Slurm script differs from $example"; exit 1; }

if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq --no-install-recommends slurm-wlm munge >/dev/null; } ||
    skip "slurm-wlm and munge could not be installed"
fi

scratch=$(mktemp -d /tmp/zemlix-slurm.XXXXXX)
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap stop EXIT
chmod 755 "$scratch"
host=$(hostname -s)
mkdir -p "$scratch"/{munge,state,spool,job}

# munge with a key and a socket of its own, so no system service is touched.
dd if=/dev/urandom bs=1 count=1024 of="$scratch/munge/munge.key" status=none
chown -R munge:munge "$scratch/munge" 2>/dev/null || true
chmod 755 "$scratch/munge"  # others reach the socket through it
chmod 400 "$scratch/munge/munge.key"
runuser -u munge -- munged --foreground --key-file="$scratch/munge/munge.key" \
  --socket="$scratch/munge/socket" --pid-file="$scratch/munge/pid" --log-file="$scratch/munge/log" \
  --seed-file="$scratch/munge/seed" >"$scratch/munge/out" 2>&1 &
pids+=($!)

port=$((20000 + RANDOM % 20000))
cat >"$scratch/slurm.conf" <<CONF
ClusterName=zemlixcheck
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$scratch/munge/socket
CredType=cred/munge
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE
CONF
export SLURM_CONF=$scratch/slurm.conf
for wait in $(seq 50); do [ -S "$scratch/munge/socket" ] && break; sleep 0.1; done
slurmctld -D -i >"$scratch/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D >"$scratch/slurmd.out" 2>&1 &
pids+=($!)
for wait in $(seq 100); do sinfo -h -o %t 2>/dev/null | grep -q idle && break; sleep 0.2; done
sinfo -h -o %t | grep -q idle || { cat "$scratch"/slurmctld.log "$scratch"/slurmd.log | tail -n 20; skip "the one-node cluster did not come up"; }

# The example as it stands, only smaller: sbatch's options override its header.
cd "$scratch/job"
export SEEDS=1-6 GENERATIONS=3 OPTIONS="--bugs 20 --lifetime 500" RESULTS=results
PATH=$build/mpi:$PATH sbatch --wait --nodes=1 --ntasks-per-node=2 --oversubscribe --time=10 "$example" \
  >"$scratch/sbatch.out" || { cat zemlix-sweep-*.log "$scratch/sbatch.out"; echo "FAIL: the job failed"; exit 1; }

"$build/sim/zemlix-sim" --quiet --seeds "$SEEDS" --generations "$GENERATIONS" $OPTIONS \
  --csv expected.csv --summary expected-summary.csv --plot expected.svg
failures=0
for pair in "sweep.csv expected.csv" "summary.csv expected-summary.csv" "sweep.svg expected.svg"; do
  set -- $pair
  cmp -s "results/$1" "$2" || { echo "FAIL: results/$1 differs from zemlix-sim's"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] || { cat zemlix-sweep-*.log; exit 1; }
echo "Slurm example checked: $(wc -l <results/sweep.csv) CSV lines, identical to zemlix-sim"
