#!/usr/bin/env bash
# The DLL under Wine and the .so natively on the same 10 s of speech (the example recording,
# repeated to length), record by record: each output must match the other bit for bit.
#   dll_identity.sh <vorlund-apo-render.exe> <VorlundApo.dll> <native build dir> <speech.flac>
set -euo pipefail
render_exe=$1 dll=$2 native=$3 speech=$4
native_render="$native/bench/vorlund-apo-render"
so=$(find "$native/src" -name libVorlundApo.so -print -quit 2>/dev/null || true)
if [ ! -x "$native_render" ] || [ -z "$so" ]; then
  echo "skipped: no native build with vorlund-apo-render and libVorlundApo.so in $native" \
       "(build the linux-release preset first, or set VORLUND_NATIVE_BUILD)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native_render" decode "$speech" 10 "$work/speech.f32"
"$native_render" render "$so" "$work/speech.f32" "$work/so-"
"$(dirname "$0")/../../scripts/wine-run.sh" "$render_exe" render "Z:$dll" "Z:$work/speech.f32" \
  "Z:$work/dll-"
status=0
for so_out in "$work"/so-*.f32; do
  record=${so_out#"$work/so-"}
  record=${record%.f32}
  dll_out="$work/dll-$record.f32"
  samples=$(( $(stat -c %s "$so_out") / 4 ))
  if [ ! -f "$dll_out" ]; then
    echo "$record: the DLL wrote no output"
    status=1
  elif cmp -s "$so_out" "$dll_out"; then
    echo "$record: identical, $samples samples"
  else
    # Differing 4-byte samples, counted from the differing bytes' offsets.
    differing=$(cmp -l "$so_out" "$dll_out" | awk '{print int(($1 - 1) / 4)}' | uniq | wc -l)
    echo "$record: $differing of $samples samples differ"
    status=1
  fi
done
exit $status
