#!/usr/bin/env bash
# Runs the Python module's tests with the built module and runner, in a scratch folder that
# is removed afterwards; nothing is written into the source tree.
# Usage: run_pytest.sh PYTHON MODULE_DIR ZEMLIX_SIM [pytest options...]
# Where the module is built with AddressSanitizer, the interpreter is not: the sanitizer's
# runtime is then preloaded (and Python's own allocations left out of the leak check).
set -euo pipefail
python=$1
PYTHONPATH=$(cd "$2" && pwd)
ZEMLIX_SIM=$(realpath "$3")
export PYTHONPATH ZEMLIX_SIM
shift 3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export PYTHONDONTWRITEBYTECODE=1 MPLBACKEND=Agg MPLCONFIGDIR=$scratch/matplotlib
module=$(echo "$PYTHONPATH"/zemlix*.so)
asan=$(ldd "$module" | awk '/libasan/ {print $3}')
if [ -n "$asan" ]; then
  # The sanitizer's runtime must come first; the C++ library too, or its exceptions find
  # no real __cxa_throw behind the sanitizer's (the interpreter itself does not load it).
  LD_PRELOAD="$asan $(ldd "$module" | awk '/libstdc\+\+/ {print $3}')"
  export LD_PRELOAD
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
fi
cd "$scratch"
"$python" -m pytest -p no:cacheprovider --basetemp="$scratch/tmp" -q "$here" "$@"
