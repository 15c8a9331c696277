// The magnitude response of the equaliser and the tone controls for a record, computed from
// the very sections the chain runs (Equalizer::configure and activeSections), so a picture of
// the curve shows what the effect does. A switched-off equaliser is flat.
#pragma once

#include <vector>

#include "engine/parameter_block.h"

namespace vorlund {

struct ResponsePoint {
  double frequencyHz;
  double gainDb;
};

// `count` points from `lowHz` to `highHz`, evenly spaced on a log scale (count >= 2), at the
// sample rate the stream runs (48 kHz when none is known).
std::vector<ResponsePoint> equaliserResponse(const ParameterBlock& record, double sampleRate,
                                             double lowHz, double highHz, int count);

}  // namespace vorlund
