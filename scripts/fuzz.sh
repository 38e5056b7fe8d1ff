#!/usr/bin/env bash
# Runs every built fuzz target for a bounded time over its committed seed
# corpus (fuzz/corpus/<target>/). Usage: fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=${2:-60}
top="$(cd "$(dirname "$0")/.." && pwd)"
shopt -s nullglob
found=0
for bin in "$build"/fuzz/*/fuzz_*; do
  [ -x "$bin" ] || continue
  found=1
  name=$(basename "$bin")
  work=$(mktemp -d)
  seeds="$top/fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] || seeds=""
  echo "fuzz: $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
    "$work" ${seeds:+"$seeds"} 2>"$work/log" || { tail -n 60 "$work/log"; echo "fuzz: $name FAILED"; exit 1; }
  grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$work/log" | sed "s/^/fuzz: $name: /"
  rm -rf "$work"
done
[ $found -eq 1 ] || echo "fuzz: no targets built"
