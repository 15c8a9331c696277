// The meters for people: level and gain bars, voice activity, processing load and a warning
// when blocks stop coming, as a block of lines a terminal redraws in place, or as one line
// per reading for a file or a pipe.
#pragma once

#include <string>
#include <vector>

#include "common/stream_state.h"

namespace vorlund {

// A bar of `width` characters, '#' for the part the value fills on its scale.
std::string meterBar(float value, MeterScale scale, int width);

// The view of one reading; every reading gives the same number of lines.
std::vector<std::string> meterLines(const StreamObservation& observation);

// One reading on one line: "stream=live blocks=... inputPeakDb=-20.0 ...".
std::string meterLine(const StreamObservation& observation);

// "live: 1 active stream, blocks coming (1234 processed), last block 3 ms ago", or what is
// wrong: the sentence 'status' and the live view share.
std::string streamSentence(const StreamObservation& observation);

}  // namespace vorlund
