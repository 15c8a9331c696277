#!/usr/bin/env bash
# The instruction budget: counts, with callgrind, the instructions that one second of 48 kHz
# mono audio takes through the block frame and the voice chain with the factory record, after
# one second of warm-up, and fails when the count lies more than 10 % above the figure recorded
# in bench/instruction-budget.txt. Only instructions in the program's own code count: what the
# C and maths libraries execute (expf, log10f, memcpy) is reported beside it but changes with
# the system's library version, so it never fails the check. When the code gets faster, lower
# the figure deliberately: run with --record.
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
# Self cost of each function, summed by the object it lies in: the program, or a library.
# Objects may be named once as "(id) name" and later by "(id)" alone; the line after a calls=
# line is the call's inclusive cost, which the callee's own lines already hold.
read -r count library < <(awk -v program="$(realpath "$program")" '
  function objectName(text,    id, rest) {
    if (!match(text, /^\([0-9]+\)/)) return text
    id = substr(text, 1, RLENGTH)
    rest = substr(text, RLENGTH + 1)
    sub(/^ /, "", rest)
    if (rest != "") names[id] = rest
    return names[id]
  }
  /^ob=/ { current = objectName(substr($0, 4)); next }
  /^cob=/ { objectName(substr($0, 5)); next }
  /^calls=/ { skipNext = 1; next }
  /^[0-9+*-]/ {
    if (skipNext) { skipNext = 0; next }
    if (current == program) own += $2; else other += $2
  }
  END { printf "%d %d\n", own, other }' "$scratch/callgrind.out")
if [ -z "$count" ] || [ "$count" -eq 0 ]; then
  echo "no instructions of $program counted: did countedAudio() get inlined away?"
  exit 1
fi

if [ "${2:-}" = --record ]; then
  sed -i "s/^[0-9][0-9]*$/$count/" "$budget_file"
  echo "recorded $count instructions in $budget_file"
  exit 0
fi

recorded=$(grep -E '^[0-9]+$' "$budget_file" | head -n 1)
limit=$((recorded * allowed_percent / 100))
echo "instructions for 1 s of 48 kHz audio through the factory chain: $count in our code" \
     "(recorded $recorded, limit $limit), $library more in the system's libraries (not budgeted)"
if [ "$count" -gt "$limit" ]; then
  echo "our code is over budget by $(( (count - recorded) * 100 / recorded )) %"
  exit 1
fi
if [ $((count * 100)) -lt $((recorded * 90)) ]; then
  echo "more than 10 % below the recorded figure: record the new one with --record"
fi
