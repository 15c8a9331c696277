#!/usr/bin/env bash
# The DLL under Wine against the native .so, in one run: vorlund-apo-render times the same
# generated speech through each library (every block's shortest wall time over the rounds),
# native and Wine processes taking turns, and the table gives each record's cost in both and
# the DLL/.so ratio (the best of the turns for each).
#
#   scripts/windows-bench.sh [native build dir] [mingw build dir] [seconds] [rounds] [turns]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$root/build/linux-release}
mingw=${2:-$root/build/mingw-release}
seconds=${3:-60}
rounds=${4:-5}
turns=${5:-3}
so=$(find "$native/src" -name libVorlundApo.so -print -quit)
dll=$(find "$mingw/src" -name VorlundApo.dll -print -quit)
export VORLUND_WINEPREFIX=${VORLUND_WINEPREFIX:-$mingw/wineprefix}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for turn in $(seq "$turns"); do
  "$native/bench/vorlund-apo-render" time "$so" "$seconds" "$rounds" >>"$scratch/so"
  "$root/scripts/wine-run.sh" "$mingw/bench/vorlund-apo-render.exe" time "Z:$dll" "$seconds" \
    "$rounds" | tr -d '\r' >>"$scratch/dll"
done
echo "| record | .so (ms/s) | DLL under Wine (ms/s) | DLL / .so |"
echo "|---|---|---|---|"
awk 'FNR == NR { if (!($1 in so) || $2 < so[$1]) so[$1] = $2; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }; next }
     { if (!($1 in dll) || $2 < dll[$1]) dll[$1] = $2 }
     END { for (i = 1; i <= n; ++i) { r = order[i];
             printf "| %s | %.3f | %.3f | %.3f |\n", r, so[r], dll[r], dll[r] / so[r] } }' \
  "$scratch/so" "$scratch/dll"
