// The noises of a real desk, made here and deterministic so every run hears the same: keyboard
// typing, chatter of several voices, a television and a mains buzz. The voices are made from
// a speech recording given (other talkers: its own copies at other paces and pitches), so no
// synthesiser and no recorded audio are needed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vorlund::bench {

struct DeskNoise {
  std::string name;
  std::vector<float> samples;
  double belowVoiceDb;  // the level it is set at: its RMS this far under the voice's
};

// Each noise `length` samples long at `sampleRate`: typing and chatter to be set 10 dB under
// the voice, the television 5 dB, the buzz 10 dB. `speech`: the talkers' material (a sentence
// or more, without long silences).
std::vector<DeskNoise> deskNoises(std::size_t length, double sampleRate,
                                  const std::vector<float>& speech);

// `base` with `noise` added at its level against `voiceRms` (linear).
std::vector<float> withNoise(const std::vector<float>& base, const DeskNoise& noise,
                             double voiceRms);

}  // namespace vorlund::bench
