#!/usr/bin/env bash
# Remakes examples/noisy-voice.flac: a synthetic spoken sentence (espeak-ng) over a steady
# fan-like noise and 50 Hz mains hum (sox), mono, 16-bit, 48 kHz. The same tool versions give
# the same file byte for byte (sox -R seeds its noise generator with a fixed value).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-deps.sh" example
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=48000
text="This is Vorlund. Behind my voice, a fan whirs and the mains hum. Listen to what is left."

# The voice at -6 dBFS peak, after one second of noise alone (time for the noise suppressor to
# learn it) and followed by half a second of noise.
espeak-ng -v en-us -s 165 -w "$work/speech.wav" "$text"
sox -R "$work/speech.wav" -r "$rate" "$work/voice.wav" gain -n -6 pad 1.0 0.5
seconds=$(soxi -D "$work/voice.wav")

# A fan: pink noise darkened above 1.5 kHz, about -42 dBFS RMS.
sox -R -n -r "$rate" -c 1 "$work/fan.wav" synth "$seconds" pinknoise lowpass 1500 gain -n -30
# Mains hum: 50 Hz at -34 dBFS peak with its third harmonic 10 dB below.
sox -R -n -r "$rate" -c 1 "$work/hum50.wav" synth "$seconds" sine 50
sox -R -n -r "$rate" -c 1 "$work/hum150.wav" synth "$seconds" sine 150

sox -R -m -v 1 "$work/voice.wav" -v 1 "$work/fan.wav" -v 0.02 "$work/hum50.wav" \
  -v 0.006 "$work/hum150.wav" -b 16 "$root/examples/noisy-voice.flac"
soxi "$root/examples/noisy-voice.flac"
