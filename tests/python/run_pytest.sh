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
. "$here/sanitizer_runtime.sh"
preload_sanitizer_runtime "$module"
cd "$scratch"
"$python" -m pytest -p no:cacheprovider --basetemp="$scratch/tmp" -q "$here" "$@"
