#!/usr/bin/env bash
# Runs each libFuzzer target for a while (60 s each by default), starting from the seed
# corpus in fuzz/corpus/<target>, which holds every past finding. CI runs it as it is.
#   scripts/fuzz.sh                 every target, 60 s each
#   scripts/fuzz.sh breed 600       one target, ten minutes
#   scripts/fuzz.sh all 10          every target, ten seconds each
# New inputs go to build/fuzz/corpus/<target>; a crash, leak or hang leaves its input in
# build/fuzz/findings/<target>/ and stops that target with a non-zero status. Replay one:
#   build/fuzz/fuzz/fuzz_<target> build/fuzz/findings/<target>/<file>
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(format_fixed breed runner_options dump_loader)
[ $# -ge 1 ] && [ "$1" != all ] && targets=("$1")
seconds=${2:-60}

command -v clang++ >/dev/null || { echo "fuzz.sh: needs clang++ (apt-get install clang)" >&2; exit 1; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# The targets run side by side, one per core at a time, so CI spends about a minute per core.
run_target() {
  local target=$1
  local corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$findings/")
  # A whole dump is about 200 KB; let the loader's inputs grow that far.
  [ "$target" = dump_loader ] && options+=(-max_len=262144)
  "build/fuzz/fuzz/fuzz_$target" "${options[@]}" "$corpus" "fuzz/corpus/$target" 2>"build/fuzz/$target.log"
}

status=0
pids=()
names=()
report() {
  local target=$1 result=$2
  echo "== $target: ${seconds} s"
  if [ "$result" -ne 0 ]; then
    echo "   FINDING: see build/fuzz/$target.log and build/fuzz/findings/$target/" >&2
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build/fuzz/$target.log" | sed 's/^/   /'
}
cores=$(nproc)
for target in "${targets[@]}"; do
  if [ ${#pids[@]} -ge "$cores" ]; then
    result=0
    wait "${pids[0]}" || result=$?
    report "${names[0]}" $result
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
  run_target "$target" &
  pids+=($!)
  names+=("$target")
done
for i in "${!pids[@]}"; do
  result=0
  wait "${pids[$i]}" || result=$?
  report "${names[$i]}" $result
done
exit $status
