// Short-time objective intelligibility (STOI; Taal, Hendriks, Heusdens and Jensen, IEEE TASLP
// 2011): how well the envelopes of a processed signal's one-third-octave bands follow the clean
// speech's over 384 ms, 0 (unrelated) to 1 (the same). Both signals are taken at 10 kHz, frames
// where the clean speech is 40 dB or more below its loudest are left out, as the measure
// prescribes.
#pragma once

#include <vector>

namespace vorlund::bench {

// `processed[t]` is taken as the estimate of `clean[t]` (undo any delay first); both at
// `sampleRate`. The shorter length counts.
double stoi(const std::vector<float>& clean, const std::vector<float>& processed,
            double sampleRate);

}  // namespace vorlund::bench
