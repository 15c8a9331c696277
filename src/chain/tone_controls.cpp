// Layer: signal
#include "chain/tone_controls.h"

#include <cmath>

namespace vorlund {

void ToneControls::configure(float low, float presence, float air) noexcept {
  // A knob within this of centre takes its filter out of the path.
  constexpr float kCentre = 0.01f;
  // Frequency, dB at the end of the knob's travel, and Q of each filter.
  constexpr double kLowHz = 220.0, kLowDb = 6.0, kLowQ = 0.7;
  constexpr double kPresenceHz = 3200.0, kPresenceDb = 5.0, kPresenceQ = 0.8;
  constexpr double kAirHz = 10000.0, kAirDb = 6.0, kAirQ = 0.7;

  lowActive_ = std::fabs(low) > kCentre;
  presenceActive_ = std::fabs(presence) > kCentre;
  airActive_ = std::fabs(air) > kCentre;
  designBiquad(lowShelf_, FilterType::LowShelf, sampleRate_, kLowHz,
               static_cast<double>(low) * kLowDb, kLowQ);
  designBiquad(presence_, FilterType::Peaking, sampleRate_, kPresenceHz,
               static_cast<double>(presence) * kPresenceDb, kPresenceQ);
  designBiquad(air_, FilterType::HighShelf, sampleRate_, kAirHz, static_cast<double>(air) * kAirDb,
               kAirQ);
}

}  // namespace vorlund
