// Layer: record
#include "engine/field_table.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace vorlund {
namespace {

using P = ParameterBlock;
using K = FieldKind;
using S = FieldStage;

constexpr FieldLabel kBandTypes[] = {
    {0, "peaking"},  {1, "lowShelf"}, {2, "highShelf"}, {3, "lowPass"},
    {4, "highPass"}, {5, "notch"},    {6, "bandPass"},
};
constexpr int effectModeNumber(VoiceEffectMode mode) {
  return static_cast<int>(mode);
}
constexpr FieldLabel kEffectModes[] = {
    {effectModeNumber(VoiceEffectMode::Off), "off"},
    {effectModeNumber(VoiceEffectMode::Robot), "robot"},
    {effectModeNumber(VoiceEffectMode::Radio), "radio"},
    {effectModeNumber(VoiceEffectMode::Telephone), "telephone"},
    {effectModeNumber(VoiceEffectMode::Pitch), "pitch"},
    {effectModeNumber(VoiceEffectMode::Echo), "echo"},
    {effectModeNumber(VoiceEffectMode::Reverb), "reverb"},
};
static_assert(std::size(kEffectModes) == effectModeNumber(kLastVoiceEffectMode) + 1);
constexpr FieldLabel kHighPassOrders[] = {{2, "12dBPerOctave"}, {4, "24dBPerOctave"}};
constexpr FieldLabel kMainsFrequencies[] = {{50, "50Hz"}, {60, "60Hz"}};
constexpr std::span<const FieldLabel> kNoLabels;

constexpr RecordField flag(std::string_view name, std::string_view label, std::size_t offset,
                           bool on, S stage, std::string_view meaning) {
  return {name, label, offset, K::Flag, "", on ? 1.0f : 0.0f, 0, 1, kNoLabels, stage, meaning};
}

constexpr RecordField number(std::string_view name, std::string_view label, std::size_t offset,
                             std::string_view unit, float defaultValue, float minimum,
                             float maximum, S stage, std::string_view meaning) {
  return {name,    label,   offset,    K::Float, unit,   defaultValue,
          minimum, maximum, kNoLabels, stage,    meaning};
}

constexpr RecordField whole(std::string_view name, std::string_view label, std::size_t offset,
                            float defaultValue, float minimum, float maximum, S stage,
                            std::string_view meaning) {
  return {name,    label,   offset,    K::Int, "",     defaultValue,
          minimum, maximum, kNoLabels, stage,  meaning};
}

constexpr RecordField choice(std::string_view name, std::string_view label, std::size_t offset,
                             K kind, std::string_view unit, float defaultValue,
                             std::span<const FieldLabel> labels, S stage,
                             std::string_view meaning) {
  return {
      name,   label, offset, kind, unit, defaultValue, labels.front().value, labels.back().value,
      labels, stage, meaning};
}

// The fields ahead of the equaliser bands.
constexpr RecordField kLeadingFields[] = {
    flag("bypass", "Bypass", offsetof(P, bypass), false, S::levels,
         "Passes the audio through untouched; the meters keep measuring."),
    flag("mute", "Mute", offsetof(P, mute), false, S::levels,
         "Fades the output to silence over 10 ms, and back when cleared."),
    number("inputGainDb", "Input gain", offsetof(P, inputGainDb), "dB", 0, -20, 30, S::levels,
           "Gain applied to the microphone signal before anything else."),
    number("outputGainDb", "Output gain", offsetof(P, outputGainDb), "dB", 0, -20, 20, S::levels,
           "Gain applied at the end, ahead of the limiter."),
    flag("highPassEnabled", "High-pass filter", offsetof(P, highPassEnabled), true, S::cleanUp,
         "Removes rumble below the high-pass frequency."),
    number("highPassHz", "High-pass frequency", offsetof(P, highPassHz), "Hz", 80, 20, 300,
           S::cleanUp, "Corner frequency of the high-pass filter."),
    choice("highPassOrder", "High-pass slope", offsetof(P, highPassOrder), K::Int, "", 2,
           kHighPassOrders, S::cleanUp, "Steepness of the high-pass: 12 or 24 dB per octave."),
    flag("humFilterEnabled", "Hum filter", offsetof(P, humFilterEnabled), false, S::cleanUp,
         "Notches out mains hum and its harmonics."),
    choice("humBaseHz", "Mains frequency", offsetof(P, humBaseHz), K::Float, "Hz", 50,
           kMainsFrequencies, S::cleanUp,
           "Mains frequency where you live: 50 Hz (Europe, Asia) or 60 Hz (Americas)."),
    whole("humHarmonics", "Hum notches", offsetof(P, humHarmonics), 4, 1, 8, S::cleanUp,
          "Number of hum notches: the mains frequency and its multiples."),
    flag("nsEnabled", "Noise suppression", offsetof(P, nsEnabled), true, S::noiseSuppressor,
         "Suppresses steady background noise such as fans and hiss."),
    number("nsReductionDb", "Noise reduction", offsetof(P, nsReductionDb), "dB", 18, 3, 40,
           S::noiseSuppressor, "Deepest cut the noise suppressor may make."),
    number("nsStrength", "Suppression strength", offsetof(P, nsStrength), "", 0.5f, 0, 1,
           S::noiseSuppressor, "How eagerly noise is suppressed: 0 gentle, 1 strongest."),
    flag("plosiveEnabled", "Plosive filter", offsetof(P, plosiveEnabled), true, S::plosive,
         "Tames the low thumps of 'p' and 'b' sounds."),
    number("plosiveStrength", "Plosive reduction", offsetof(P, plosiveStrength), "", 0.5f, 0, 1,
           S::plosive, "How strongly plosive thumps are reduced: 0 lightly, 1 most."),
    flag("gateEnabled", "Noise gate", offsetof(P, gateEnabled), false, S::gate,
         "Turns the signal down between phrases."),
    flag("gateAuto", "Automatic threshold", offsetof(P, gateAuto), true, S::gate,
         "The gate's threshold follows the measured background instead of gateThresholdDb."),
    number("gateThresholdDb", "Gate threshold", offsetof(P, gateThresholdDb), "dBFS", -50, -80, -10,
           S::gate, "Level above which the gate opens (when not automatic)."),
    number("gateRangeDb", "Gate depth", offsetof(P, gateRangeDb), "dB", 18, 3, 80, S::gate,
           "How far the closed gate turns the signal down."),
    number("gateAttackMs", "Gate attack", offsetof(P, gateAttackMs), "ms", 2, 0.1f, 50, S::gate,
           "How fast the gate opens."),
    number("gateHoldMs", "Gate hold", offsetof(P, gateHoldMs), "ms", 150, 0, 1000, S::gate,
           "How long the gate stays open after the voice falls silent."),
    number("gateReleaseMs", "Gate release", offsetof(P, gateReleaseMs), "ms", 180, 10, 2000,
           S::gate, "How slowly the gate closes."),
    flag("eqEnabled", "Equaliser", offsetof(P, eqEnabled), true, S::equaliser,
         "Switches the ten equaliser bands and the three tone controls together."),
    number("toneLow", "Warmth", offsetof(P, toneLow), "", 0, -1, 1, S::equaliser,
           "Warmth: low shelf at 220 Hz, -1 is -6 dB, +1 is +6 dB."),
    number("tonePresence", "Presence", offsetof(P, tonePresence), "", 0, -1, 1, S::equaliser,
           "Presence: peak at 3200 Hz, -1 is -5 dB, +1 is +5 dB."),
    number("toneAir", "Air", offsetof(P, toneAir), "", 0, -1, 1, S::equaliser,
           "Air: high shelf at 10 kHz, -1 is -6 dB, +1 is +6 dB."),
};

// The fields after the equaliser bands.
constexpr RecordField kTrailingFields[] = {
    flag("deEsserEnabled", "De-esser", offsetof(P, deEsserEnabled), true, S::deEsser,
         "Softens harsh 's' and 'sh' sounds."),
    number("deEsserHz", "De-esser frequency", offsetof(P, deEsserHz), "Hz", 6500, 3000, 10000,
           S::deEsser, "Centre of the band where sibilance is detected."),
    number("deEsserAmount", "De-esser amount", offsetof(P, deEsserAmount), "", 0.35f, 0, 1,
           S::deEsser, "How much sibilance is reduced: 0 lightly, 1 most."),
    flag("agcEnabled", "Automatic gain", offsetof(P, agcEnabled), false, S::agc,
         "Automatic gain: keeps the voice at a steady loudness."),
    number("agcTargetDb", "Target loudness", offsetof(P, agcTargetDb), "dB", -18, -30, -10, S::agc,
           "Loudness the automatic gain aims for (K-weighted, as LUFS)."),
    number("agcMaxGainDb", "Maximum gain", offsetof(P, agcMaxGainDb), "dB", 12, 0, 30, S::agc,
           "Most gain the automatic gain may add."),
    number("agcSpeed", "Adapt speed", offsetof(P, agcSpeed), "", 0.4f, 0, 1, S::agc,
           "How fast the automatic gain adapts: 0 slowest, 1 fastest."),
    flag("compEnabled", "Compressor", offsetof(P, compEnabled), true, S::compressor,
         "Evens out loud and quiet syllables."),
    number("compThresholdDb", "Compressor threshold", offsetof(P, compThresholdDb), "dBFS", -22,
           -60, 0, S::compressor, "Level above which the compressor turns the signal down."),
    number("compRatio", "Compression ratio", offsetof(P, compRatio), "", 3, 1, 20, S::compressor,
           "Compression ratio: 3 means 3 dB in above the threshold give 1 dB out."),
    number("compAttackMs", "Compressor attack", offsetof(P, compAttackMs), "ms", 5, 0.1f, 200,
           S::compressor, "How fast the compressor reacts to a louder signal."),
    number("compReleaseMs", "Compressor release", offsetof(P, compReleaseMs), "ms", 120, 10, 2000,
           S::compressor, "How fast the compressor lets go when the signal gets quieter."),
    number("compKneeDb", "Knee width", offsetof(P, compKneeDb), "dB", 6, 0, 24, S::compressor,
           "Width of the soft knee around the threshold."),
    number("compMakeupDb", "Make-up gain", offsetof(P, compMakeupDb), "dB", 0, -12, 24,
           S::compressor, "Gain added after compression."),
    flag("compAutoMakeup", "Automatic make-up", offsetof(P, compAutoMakeup), true, S::compressor,
         "Adds a make-up gain worked out from threshold and ratio."),
    choice("effectMode", "Voice effect", offsetof(P, effectMode), K::Int, "", 0, kEffectModes,
           S::voiceEffect, "Voice character: off, robot, radio, telephone, pitch, echo or reverb."),
    number("effectMix", "Effect mix", offsetof(P, effectMix), "", 0.5f, 0, 1, S::voiceEffect,
           "Share of the effect in the output; 0 switches it off."),
    number("effectParam", "Effect setting", offsetof(P, effectParam), "", 0.5f, 0, 1,
           S::voiceEffect, "The effect's one control: rate, drive, pitch, delay or room size."),
    flag("limiterEnabled", "Limiter", offsetof(P, limiterEnabled), true, S::limiter,
         "Keeps peaks under the ceiling without clipping."),
    number("limiterCeilingDb", "Limiter ceiling", offsetof(P, limiterCeilingDb), "dBFS", -1, -12, 0,
           S::limiter, "Highest level the output may reach."),
};

constexpr std::size_t kBandFieldCount = 5;
constexpr std::size_t kFieldCount = std::size(kLeadingFields) + std::size(kTrailingFields) +
                                    ParameterBlock::kBandCount * kBandFieldCount;

// "eqBands[N].member" names and "Band N+1 member" labels (people count bands from one), built
// at compile time so the table is constant data.
constexpr std::size_t kBandNameLength = 24;
using BandName = std::array<char, kBandNameLength>;

constexpr BandName bandText(std::string_view before, int number, std::string_view after) {
  BandName text{};
  std::size_t at = 0;
  for (char c : before) text[at++] = c;
  if (number >= 10) text[at++] = static_cast<char>('0' + number / 10);
  text[at++] = static_cast<char>('0' + number % 10);
  for (char c : after) text[at++] = c;
  return text;
}

constexpr std::string_view kBandMembers[kBandFieldCount] = {"].enabled", "].type", "].freqHz",
                                                            "].gainDb", "].q"};
constexpr std::string_view kBandLabels[kBandFieldCount] = {" on", " shape", " frequency", " gain",
                                                           " width (Q)"};
static_assert(ParameterBlock::kBandCount <= 10, "band names carry a single digit");

constexpr auto bandTexts(std::string_view before, int first,
                         const std::string_view (&after)[kBandFieldCount]) {
  std::array<BandName, ParameterBlock::kBandCount * kBandFieldCount> texts{};
  for (int band = 0; band < ParameterBlock::kBandCount; ++band) {
    for (std::size_t member = 0; member < kBandFieldCount; ++member) {
      texts[band * kBandFieldCount + member] = bandText(before, band + first, after[member]);
    }
  }
  return texts;
}
constexpr auto kBandNames = bandTexts("eqBands[", 0, kBandMembers);
constexpr auto kBandLabelTexts = bandTexts("Band ", 1, kBandLabels);

constexpr std::string_view nameOf(const BandName& text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return {text.data(), length};
}

constexpr auto kFields = [] {
  std::array<RecordField, kFieldCount> fields{};
  std::size_t at = 0;
  for (const RecordField& field : kLeadingFields) fields[at++] = field;
  for (int band = 0; band < ParameterBlock::kBandCount; ++band) {
    const std::size_t base = offsetof(P, eqBands) + band * sizeof(EqBand);
    const EqBand& start = kFactoryBands[band];
    auto name = [&](std::size_t member) {
      return nameOf(kBandNames[band * kBandFieldCount + member]);
    };
    auto label = [&](std::size_t member) {
      return nameOf(kBandLabelTexts[band * kBandFieldCount + member]);
    };
    fields[at++] = flag(name(0), label(0), base + offsetof(EqBand, enabled), start.enabled != 0,
                        S::equaliser, "Equaliser band on.");
    fields[at++] = choice(name(1), label(1), base + offsetof(EqBand, type), K::Int, "",
                          static_cast<float>(start.type), kBandTypes, S::equaliser,
                          "Band shape: peaking, shelf, pass, notch or band-pass.");
    fields[at++] = number(name(2), label(2), base + offsetof(EqBand, freqHz), "Hz", start.freqHz,
                          20, 20000, S::equaliser, "Centre or corner frequency of the band.");
    fields[at++] = number(name(3), label(3), base + offsetof(EqBand, gainDb), "dB", start.gainDb,
                          -24, 24, S::equaliser, "Boost or cut of a peaking or shelf band.");
    fields[at++] = number(name(4), label(4), base + offsetof(EqBand, q), "", start.q, 0.1f, 18,
                          S::equaliser, "Width of the band: higher is narrower.");
  }
  for (const RecordField& field : kTrailingFields) fields[at++] = field;
  return fields;
}();

constexpr bool inOffsetOrder() {
  for (std::size_t i = 1; i < kFields.size(); ++i) {
    if (kFields[i].offset != kFields[i - 1].offset + 4) return false;
  }
  return kFields.front().offset == offsetof(P, bypass) &&
         kFields.back().offset + 4 == offsetof(P, reserved);
}
static_assert(inOffsetOrder(), "every user field once, in offset order, without gaps");

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::span<const RecordField> recordFields() noexcept {
  return kFields;
}

const RecordField* findRecordField(std::string_view name) noexcept {
  for (const RecordField& field : kFields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

std::string_view stageName(FieldStage stage) noexcept {
  switch (stage) {
    case S::levels:
      return "levels";
    case S::cleanUp:
      return "cleanUp";
    case S::noiseSuppressor:
      return "noiseSuppressor";
    case S::plosive:
      return "plosive";
    case S::gate:
      return "gate";
    case S::equaliser:
      return "equaliser";
    case S::deEsser:
      return "deEsser";
    case S::agc:
      return "agc";
    case S::compressor:
      return "compressor";
    case S::voiceEffect:
      return "voiceEffect";
    case S::limiter:
      return "limiter";
  }
  return "";
}

std::string_view stageTitle(FieldStage stage) noexcept {
  switch (stage) {
    case S::levels:
      return "Levels, bypass and mute";
    case S::cleanUp:
      return "High-pass and hum filters";
    case S::noiseSuppressor:
      return "Noise suppressor";
    case S::plosive:
      return "Plosive suppressor";
    case S::gate:
      return "Noise gate";
    case S::equaliser:
      return "Equaliser and tone";
    case S::deEsser:
      return "De-esser";
    case S::agc:
      return "Automatic gain";
    case S::compressor:
      return "Compressor";
    case S::voiceEffect:
      return "Voice effect";
    case S::limiter:
      return "Limiter";
  }
  return "";
}

std::optional<float> labelValue(const RecordField& field, std::string_view text) noexcept {
  for (const FieldLabel& label : field.labels) {
    if (equalsIgnoringCase(label.name, text)) return label.value;
  }
  return std::nullopt;
}

std::string_view labelName(const RecordField& field, float value) noexcept {
  for (const FieldLabel& label : field.labels) {
    if (label.value == value) return label.name;
  }
  return {};
}

std::uint32_t fieldBits(const ParameterBlock& record, const RecordField& field) noexcept {
  std::uint32_t bits;
  std::memcpy(&bits, reinterpret_cast<const unsigned char*>(&record) + field.offset, sizeof bits);
  return bits;
}

void setFieldBits(ParameterBlock& record, const RecordField& field, std::uint32_t bits) noexcept {
  std::memcpy(reinterpret_cast<unsigned char*>(&record) + field.offset, &bits, sizeof bits);
}

float fieldNumber(std::uint32_t bits, FieldKind kind) noexcept {
  return kind == K::Float ? std::bit_cast<float>(bits)
                          : static_cast<float>(std::bit_cast<std::int32_t>(bits));
}

std::uint32_t numberBits(float value, FieldKind kind) noexcept {
  if (kind == K::Float) return std::bit_cast<std::uint32_t>(value);
  // Saturate before converting: a float beyond int32 has no defined conversion.
  constexpr float kIntLimit = 2147483520.0f;  // the largest float below 2^31
  const float bounded = !(value >= -kIntLimit) ? -kIntLimit : value > kIntLimit ? kIntLimit : value;
  return std::bit_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(bounded)));
}

}  // namespace vorlund
