// Layer: record
// The one table of the meters the shared block publishes after every block: name, label and
// scale of each. Every view of the meters (vorlund-ctl, the meters CSV, the control panel,
// the plugin's output ports) walks it.
#pragma once

#include <array>
#include <string_view>

#include "engine/shared_block.h"

namespace vorlund {

enum class MeterScale {
  level,      // dBFS: a bar from -60 to 0
  reduction,  // dB of gain taken away, 0 or below: a bar from 0 to -30
  gain,       // dB either way: a bar of its size up to 30
  load,       // 1.0 = processing took the whole block: a bar from 0 to 100 %
};

struct MeterField {
  std::string_view key;    // the JSON name, as in the shared block
  std::string_view label;  // for people
  float SharedBlock::*member;
  MeterScale scale;
};

inline constexpr std::array<MeterField, 13> kMeterFields = {{
    {"inputPeakDb", "input peak", &SharedBlock::inputPeakDb, MeterScale::level},
    {"inputRmsDb", "input RMS", &SharedBlock::inputRmsDb, MeterScale::level},
    {"outputPeakDb", "output peak", &SharedBlock::outputPeakDb, MeterScale::level},
    {"outputRmsDb", "output RMS", &SharedBlock::outputRmsDb, MeterScale::level},
    {"inputBackgroundDb", "background", &SharedBlock::inputBackgroundDb, MeterScale::level},
    {"noiseSuppressionDb", "noise suppression", &SharedBlock::noiseSuppressionDb,
     MeterScale::reduction},
    {"gateGainDb", "gate", &SharedBlock::gateGainDb, MeterScale::reduction},
    {"plosiveGainDb", "plosive", &SharedBlock::plosiveGainDb, MeterScale::reduction},
    {"deEsserGainDb", "de-esser", &SharedBlock::deEsserGainDb, MeterScale::reduction},
    {"agcGainDb", "AGC", &SharedBlock::agcGainDb, MeterScale::gain},
    {"compressorReductionDb", "compressor", &SharedBlock::compressorReductionDb,
     MeterScale::reduction},
    {"limiterGainDb", "limiter", &SharedBlock::limiterGainDb, MeterScale::reduction},
    {"processingLoad", "load", &SharedBlock::processingLoad, MeterScale::load},
}};

}  // namespace vorlund
