#!/usr/bin/env bash
# The instruction budget: counts, with callgrind, the instructions that one second of 48 kHz
# mono audio takes through the block frame and the voice chain with the factory record, after
# one second of warm-up, and fails when the count lies more than 10 % above the figure recorded
# in bench/instruction-budget.txt. The count is deterministic on a given machine and library
# build. When the code gets faster, lower the figure deliberately: run with --record.
#
#   scripts/instruction-budget.sh <path to vorlund-budget> [--record]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:?usage: instruction-budget.sh <path to vorlund-budget> [--record]}
budget_file="$root/bench/instruction-budget.txt"
allowed_percent=110

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" \
    --collect-atstart=no --toggle-collect='*countedAudio*' \
    "$program" default 1 48000 1 >"$scratch/log" 2>&1; then
  cat "$scratch/log"
  exit 1
fi
count=$(sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$scratch/callgrind.out" | head -n 1)
if [ -z "$count" ] || [ "$count" -eq 0 ]; then
  echo "no instructions counted: did countedAudio() get inlined away?"
  exit 1
fi

if [ "${2:-}" = --record ]; then
  sed -i "s/^[0-9][0-9]*$/$count/" "$budget_file"
  echo "recorded $count instructions in $budget_file"
  exit 0
fi

recorded=$(grep -E '^[0-9]+$' "$budget_file" | head -n 1)
limit=$((recorded * allowed_percent / 100))
echo "instructions for 1 s of 48 kHz audio through the factory chain: $count" \
     "(recorded $recorded, limit $limit)"
if [ "$count" -gt "$limit" ]; then
  echo "over budget by $(( (count - recorded) * 100 / recorded )) %"
  exit 1
fi
if [ $((count * 100)) -lt $((recorded * 90)) ]; then
  echo "more than 10 % below the recorded figure: record the new one with --record"
fi
