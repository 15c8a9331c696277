// Layer: signal
#include "chain/equalizer.h"

#include <cmath>

namespace vorlund {
namespace {

// Peaking and shelving bands with a smaller gain than this are flat enough to skip.
constexpr float kFlatBandDb = 0.05f;

bool isFlatWhenGainIsZero(int type) noexcept {
  return type == static_cast<int>(FilterType::Peaking) ||
         type == static_cast<int>(FilterType::LowShelf) ||
         type == static_cast<int>(FilterType::HighShelf);
}

}  // namespace

void Equalizer::configure(const Settings& settings) noexcept {
  const auto& [bands, toneLow, tonePresence, toneAir] = settings;
  activeCount_ = 0;
  for (int i = 0; i < kBandCount; ++i) {
    const EqBand& band = bands[i];
    if (band.enabled == 0) continue;
    if (isFlatWhenGainIsZero(band.type) && !(std::fabs(band.gainDb) >= kFlatBandDb)) continue;
    designBiquad(bandSections_[i], band.type, sampleRate_, band.freqHz, band.gainDb, band.q);
    activeBands_[activeCount_++] = i;
  }
  tone_.configure(toneLow, tonePresence, toneAir);
}

}  // namespace vorlund
