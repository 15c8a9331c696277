#!/usr/bin/env bash
# The main job: installs what is missing, builds the native Release configuration and runs
# vorlund-process over the example recording with the default record, the podcast preset
# and the streaming-fan preset. The results land in examples/out/ (ignored by git).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target vorlund-process >/dev/null
tool=build/linux-release/tools/vorlund-process
mkdir -p examples/out
for record in default podcast streaming-fan; do
  "$tool" examples/noisy-voice.flac "examples/out/noisy-voice-$record.flac" --align \
          --preset "$record" --meters "examples/out/noisy-voice-$record-meters.csv" \
          --report "examples/out/noisy-voice-$record.html" \
          --spectrograms "examples/out/noisy-voice-$record.png" "$@"
  echo
done
echo "Listen: examples/noisy-voice.flac (as recorded) and examples/out/noisy-voice-*.flac"
echo "(default, podcast, streaming-fan); the meters per 100 ms are the .csv files beside them,"
echo "and each run's report (input and output to play with an A/B switch, spectrograms, meters"
echo "over time, summary) the .html page."
