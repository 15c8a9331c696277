#!/usr/bin/env bash
# The instruction budget: counts, with callgrind, the instructions that one second of 48 kHz
# mono audio takes through the block frame and the voice chain with the factory record, after
# one second of warm-up, and fails when the count lies more than 10 % above the figure recorded
# in bench/instruction-budget.txt. The budget holds for the SSE2 path (VORLUND_SIMD=sse2), which
# every x86-64 processor runs, so the figure is the same on every machine; where the processor
# has AVX2 the count of that path is reported beside it. Only instructions in the program's own code count: what the
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
# Prints "<own count> <library count> <vector path>" for the path VORLUND_SIMD=$1 selects.
count_path() {
  if ! VORLUND_SIMD=$1 valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" \
      --collect-atstart=no --toggle-collect='*countedAudio*' \
      "$program" default 1 48000 1 >"$scratch/log" 2>&1; then
    cat "$scratch/log" >&2
    exit 1
  fi
  local path
  path=$(sed -n 's/.*vector path \([A-Z0-9]*\).*/\1/p' "$scratch/log")
  # Self cost of each function, summed by the object it lies in: the program, or a library.
  # Objects may be named once as "(id) name" and later by "(id)" alone; the line after a calls=
  # line is the call's inclusive cost, which the callee's own lines already hold.
  awk -v program="$(realpath "$program")" -v path="$path" '
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
    END { printf "%d %d %s\n", own, other, path }' "$scratch/callgrind.out"
}
read -r count library _ < <(count_path sse2)
if [ -z "$count" ] || [ "$count" -eq 0 ]; then
  echo "no instructions of $program counted: did countedAudio() get inlined away?"
  exit 1
fi
read -r wide_count _ wide_path < <(count_path avx2)

if [ "${2:-}" = --record ]; then
  sed -i "s/^[0-9][0-9]*$/$count/" "$budget_file"
  echo "recorded $count instructions in $budget_file"
  exit 0
fi

recorded=$(grep -E '^[0-9]+$' "$budget_file" | head -n 1)
limit=$((recorded * allowed_percent / 100))
echo "instructions for 1 s of 48 kHz audio through the factory chain, SSE2 path: $count in our" \
     "code (recorded $recorded, limit $limit), $library more in the system's libraries (not budgeted)"
if [ "$wide_path" = AVX2 ]; then
  echo "AVX2 path on this processor: $wide_count in our code (not budgeted)"
fi
if [ "$count" -gt "$limit" ]; then
  echo "our code is over budget by $(( (count - recorded) * 100 / recorded )) %"
  exit 1
fi
if [ $((count * 100)) -lt $((recorded * 90)) ]; then
  echo "more than 10 % below the recorded figure: record the new one with --record"
fi
