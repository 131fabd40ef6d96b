#!/usr/bin/env bash
# Long runs that must end with no sanitizer report and no growth. Not part of CI.
#   scripts/soak.sh ticks [N]      N ticks (default 1,000,000) of 200 bugs and 100 pellets in
#                                  the headless runner, sanitizer build (a few minutes)
#   scripts/soak.sh restarts [N]   N population restarts (default 10,000): peak resident
#                                  size after the first Start and at the end, release build;
#                                  then the same under the sanitizers for leaks
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

build() {  # build <preset> <target>
  [ -f "build/$1/build.ninja" ] || cmake --preset "$1" "${launcher[@]}" >/dev/null
  cmake --build "build/$1" -j "$(nproc)" --target "$2"
}

case "$mode" in
  ticks)
    ticks=${2:-1000000}
    build sanitize zemlix-sim
    workdir=$(mktemp -d)  # --record-io is off, but keep any NN.log out of the tree
    trap 'rm -rf "$workdir"' EXIT
    echo "== $ticks ticks, 200 bugs, 100 pellets, sanitizer build"
    start=$(date +%s)
    (cd "$workdir" && /usr/bin/time -f "peak resident size %M KiB, %e s" \
      "$OLDPWD/build/sanitize/sim/zemlix-sim" --seed 1 --bugs 200 --food 100 --ticks "$ticks" >/dev/null)
    echo "no sanitizer report; $(( $(date +%s) - start )) s"
    ;;
  restarts)
    restarts=${2:-10000}
    build release world_tests
    echo "== $restarts restarts, release build"
    ZEMLIX_SOAK_RESTARTS=$restarts build/release/tests/world/world_tests --gtest_filter='RestartSoak.*'
    build sanitize world_tests
    echo "== $restarts restarts, sanitizer build (leak check at exit)"
    ZEMLIX_SOAK_RESTARTS=$restarts build/sanitize/tests/world/world_tests --gtest_filter='RestartSoak.*'
    ;;
  *)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
