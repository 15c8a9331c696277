#!/usr/bin/env bash
# The AVX2 builds of the vector units define no global or weak symbol outside their own
# namespace: a function they define under a name the SSE2 build shares (an inline member of a
# stage, a standard library template not inlined) may be the copy the linker keeps for the
# SSE2 code as well, which then fails on a processor without AVX2.
#   avx2_symbols.sh <nm> <object>...
set -euo pipefail
nm_tool=$1
shift
status=0
[ "$#" -gt 0 ] || { echo "no objects given"; exit 1; }
for object in "$@"; do
  symbols=$("$nm_tool" -C --defined-only "$object")
  stray=$(awk '$2 ~ /^[TWVDBRu]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' <<<"$symbols" |
    grep -v -e '^vorlund::avx2::' -e '^DW\.ref\.__gxx_personality_v0$' || true)
  if [ -n "$stray" ]; then
    echo "$(basename "$object") defines outside vorlund::avx2:"
    echo "$stray"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "$# objects: every global symbol in vorlund::avx2"
exit "$status"
