#!/usr/bin/env bash
# Runs the README's blocks marked as checked, in order, in one scratch folder, with the
# build's programs on PATH (and build/release leading to the build), so that what the
# README tells a reader stays true. Markers, on the line before a block's blank line:
#   <!-- readme-check -->        the block's commands must succeed; a block of "$ " lines
#                                is a transcript: each command's output must be the lines
#                                that follow it
#   <!-- readme-check: FILE -->  every line of the block must be a line of FILE
# Usage: readme_blocks.sh README BUILD_DIR
set -euo pipefail
readme=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
build=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/build"
ln -s "$build" "$scratch/build/release"
export PATH=$build/sim:$build/mpi:$build/app:$PATH
cd "$scratch"

failures=0
checked=0
fail() { echo "FAIL: README line $1: $2"; failures=$((failures + 1)); }

# Each marked block as: its line number, its marker, then its lines without the indent.
mapfile -t lines <"$readme"
for ((i = 0; i < ${#lines[@]}; i++)); do
  [[ ${lines[i]} =~ ^\<!--\ readme-check(:\ ([^ ]+))?\ --\>$ ]] || continue
  file=${BASH_REMATCH[2]}
  start=$((i + 2))
  block=()
  for ((k = start; k < ${#lines[@]}; k++)); do
    [[ ${lines[k]} == "    "* ]] || break
    block+=("${lines[k]:4}")
  done
  [ ${#block[@]} -gt 0 ] || { fail $((i + 1)) "a marker without a block"; continue; }
  checked=$((checked + 1))
  if [ -n "$file" ]; then
    for line in "${block[@]}"; do
      grep -qxF -- "$line" "$file" 2>/dev/null || fail $((start + 1)) "'$line' is not a line of $file"
    done
  elif [[ ${block[0]} == '$ '* ]]; then
    for ((k = 0; k < ${#block[@]}; k++)); do
      [[ ${block[k]} == '$ '* ]] || continue
      expected=""
      m=$((k + 1))
      while ((m < ${#block[@]})) && [[ -n ${block[m]} && ${block[m]} != '$ '* ]]; do
        expected+="${block[m]}"$'\n'
        m=$((m + 1))
      done
      actual=$(bash -c "${block[k]:2}" 2>&1 || true)
      [ "$actual" == "${expected%$'\n'}" ] || fail $((start + k + 1)) "'${block[k]:2}' printed '$actual'"
    done
  else
    printf '%s\n' "${block[@]}" >"$scratch/block.sh"
    bash -e "$scratch/block.sh" >"$scratch/block.out" 2>&1 || { cat "$scratch/block.out"; fail $((start + 1)) "the block failed"; }
  fi
done
[ "$checked" -gt 0 ] || { echo "FAIL: no block of the README is marked"; exit 1; }
[ "$failures" -eq 0 ] || { echo "$failures of the README's claims failed"; exit 1; }
echo "README: $checked marked blocks hold"
