# Sourced by the scripts that import the Python module. A module built with AddressSanitizer
# loads into an interpreter that was not: its runtime must come first, and the C++ library
# too, or its exceptions find no real __cxa_throw behind the sanitizer's (the interpreter
# itself does not load it). The interpreter's own allocations are not ours to check.
# Usage: preload_sanitizer_runtime MODULE.so
preload_sanitizer_runtime() {
  local asan
  asan=$(ldd "$1" | awk '/libasan/ {print $3}')
  [ -n "$asan" ] || return 0
  LD_PRELOAD="$asan $(ldd "$1" | awk '/libstdc\+\+/ {print $3}')"
  export LD_PRELOAD
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
}
