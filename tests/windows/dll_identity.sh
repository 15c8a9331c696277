#!/usr/bin/env bash
# The DLL under Wine and the .so natively on the same 10 s of speech (the example recording,
# repeated to length), record by record, each on both vector paths (VORLUND_SIMD=sse2 and
# avx2): every output must match the .so's SSE2 output bit for bit. Where the processor lacks
# AVX2 the avx2 runs fall back to SSE2, which the "vector path" lines show.
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
for path in sse2 avx2; do
  echo -n ".so, VORLUND_SIMD=$path: "
  VORLUND_SIMD=$path "$native_render" render "$so" "$work/speech.f32" "$work/so-$path-"
  echo -n "DLL, VORLUND_SIMD=$path: "
  VORLUND_SIMD=$path "$(dirname "$0")/../../scripts/wine-run.sh" "$render_exe" render "Z:$dll" \
    "Z:$work/speech.f32" "Z:$work/dll-$path-"
done
status=0
for reference in "$work"/so-sse2-*.f32; do
  record=${reference#"$work/so-sse2-"}
  record=${record%.f32}
  samples=$(( $(stat -c %s "$reference") / 4 ))
  for run in so-avx2 dll-sse2 dll-avx2; do
    output="$work/$run-$record.f32"
    if [ ! -f "$output" ]; then
      echo "$record, $run: no output"
      status=1
    elif cmp -s "$reference" "$output"; then
      echo "$record, $run: identical, $samples samples"
    else
      # Differing 4-byte samples, counted from the differing bytes' offsets.
      differing=$(cmp -l "$reference" "$output" | awk '{print int(($1 - 1) / 4)}' | uniq | wc -l)
      echo "$record, $run: $differing of $samples samples differ"
      status=1
    fi
  done
done
exit $status
