// The noises of a real desk laid over the example recording, made here and deterministic so
// every run hears the same: keyboard typing, chatter of several voices, a television, mains
// hum, and the example's own fan. Made at test time from the example's speech and a seeded
// generator, so nothing large is committed and no synthesiser is needed.
#pragma once

#include <string>
#include <vector>

namespace vorlund {

struct DeskCondition {
  std::string name;
  std::vector<float> samples;  // mono, the example's rate
};

// Seconds of each condition: the example repeated, long enough for the slow stages to settle.
constexpr int kDeskRepeats = 2;

// `example`: the example recording, mono. The first condition is the example itself repeated
// (its fan and hum only); each other adds one noise at its level against the voice: typing and
// chatter 10 dB, the television 5 dB, hum 10 dB below the voice's RMS.
std::vector<DeskCondition> makeDeskSet(const std::vector<float>& example, double sampleRate);

}  // namespace vorlund
