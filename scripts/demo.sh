#!/usr/bin/env bash
# The main job: installs what is missing, builds the native Release configuration and runs
# vorlund-process over the example recording, once with the default record and once with
# the podcast preset. The results land in examples/out/ (ignored by git).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target vorlund-process >/dev/null
tool=build/linux-release/tools/vorlund-process
mkdir -p examples/out
"$tool" examples/noisy-voice.flac examples/out/noisy-voice-default.flac \
        --align --meters examples/out/noisy-voice-default-meters.csv "$@"
echo
"$tool" examples/noisy-voice.flac examples/out/noisy-voice-podcast.flac \
        --align --preset podcast --meters examples/out/noisy-voice-podcast-meters.csv "$@"
echo
echo "Listen: examples/noisy-voice.flac (as recorded), examples/out/noisy-voice-default.flac"
echo "and examples/out/noisy-voice-podcast.flac; the meters per 100 ms are the .csv files beside them."
