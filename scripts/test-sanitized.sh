#!/usr/bin/env bash
# Builds the sanitizer configuration (AddressSanitizer with LeakSanitizer, and
# UndefinedBehaviorSanitizer, no recovery) and runs the whole test suite under it, window
# tests included (offscreen). Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The preset's environment carries the sanitizer options; the build needs them too, since
# test discovery runs the test programs.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
XDG_RUNTIME_DIR=$(mktemp -d)  # Qt wants a private runtime directory
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT

if [ ! -f build/sanitize/build.ninja ]; then
  cmake --preset sanitize "${launcher[@]}" >/dev/null
fi
cmake --build build/sanitize -j "$(nproc)"
ctest --test-dir build/sanitize --output-on-failure -j "$(nproc)" --timeout 600
