#!/usr/bin/env bash
# The AVX2 and AVX-512 objects may define no symbol but their entry points: a vector copy of
# an inline or template function would be a weak symbol the linker could pick over the
# portable copy, and other files would then run such code on processors without it.
#   avx2_symbols.sh OBJECT...
set -euo pipefail
status=0
for object in "$@"; do
  symbols=$(nm --defined-only --extern-only --demangle "$object" | cut -d' ' -f3-)
  if [ -z "$symbols" ]; then
    echo "$object defines no entry point"
    status=1
  fi
  while IFS= read -r symbol; do
    case "$symbol" in
      "zemlix::"*"Avx2("* | "zemlix::"*"Avx512("*) ;;
      # Where a function unwinds (sanitizer builds poison its stack arrays), a data word holding
      # the C++ runtime's unwinding routine, the same in every object: no code of its own.
      "DW.ref.__gxx_personality_v0") ;;
      *) echo "$object defines $symbol"; status=1 ;;
    esac
  done <<< "$symbols"
done
[ "$status" -eq 0 ] && echo "only entry points: $(nm --defined-only --extern-only --demangle "$@" | cut -d' ' -f3- | tr '\n' ' ')"
exit "$status"
