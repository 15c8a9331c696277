// Layer: signal
#include "chain/voice_chain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <type_traits>

#include "chain/biquad_cascade.h"
#include "chain/gain.h"
#include "chain/skewed_pipeline.h"
#include "chain/stage_settings.h"

namespace vorlund {
namespace {

// Peak and mean square in sample order, float accumulation. The sum saturates at the largest
// float: with the limiter off and every gain at its top the output's squares overflow, and an
// infinite mean square would reach the published meters_.
struct BlockMeasure {
  float peak = 0.0f;
  float sum = 0.0f;

  void add(float x) noexcept {
    const float magnitude = std::fabs(x);
    if (magnitude > peak) peak = magnitude;
    sum = std::min(sum + x * x, std::numeric_limits<float>::max());
  }
  float meanSquare(int count) const noexcept { return sum / static_cast<float>(count); }
};

// A full mute fade takes 10 ms.
constexpr double kMuteRampSeconds = 0.01;
// Sections a block may run through: the high-pass and the hum notches before the suppressor,
// the equaliser's bands and tone filters after it.
constexpr int kMaxInputSections = 2 + HumFilter::kMaxSections;
constexpr int kMaxVoiceSections = Equalizer::kMaxSections;
static_assert(kMaxVoiceSections >= kMaxInputSections);
static_assert(kMaxVoiceSections <= kMaxKernelCascade, "the cascade pass takes every section");
// Sections the first loop of the chain runs together with the DC blocker and the suppressor;
// a longer input cascade gets a pass of its own.
constexpr int kSectionsInLoop = 2;

// The passes below copy these stages into locals and back: a copy that ran a constructor or
// allocated would break the real-time rules and the bit-exact state round trip.
template <typename... Stages>
constexpr bool allTriviallyCopyable = (std::is_trivially_copyable_v<Stages> && ...);
static_assert(allTriviallyCopyable<BiquadSection, DcBlocker, LevelTracker, PlosiveSuppressor,
                                   NoiseGate, DeEsser, LoudnessAgc, LoudnessAgc::Ramp, Compressor>);

// True when every listed section's state is sound.
bool statesAreSound(BiquadSection* const* sections, int count) noexcept {
  for (int i = 0; i < count; ++i) {
    if (!sections[i]->stateIsSound()) return false;
  }
  return true;
}

}  // namespace

VoiceChain::VoiceChain() noexcept {
  setDefaults(params_);
}

void VoiceChain::prepare(double rate) {
  sampleRate_ = rate;
  cascades_ = &laneKernels(chosenVectorPath());
  dcBlocker_.prepare(rate);
  highPass_.prepare(rate);
  equalizer_.prepare(rate);
  suppressor_.prepare(rate);
  voiceTracker_.prepare(rate);
  inputTracker_.prepare(rate);
  gate_.prepare(rate);
  compressor_.prepare(rate);
  limiter_.prepare(rate);
  agc_.prepare(rate);
  deEsser_.prepare(rate);
  plosive_.prepare(rate);
  humFilter_.prepare(rate);
  voiceEffect_.prepare(rate);
  muteStep_ = 1.0f / static_cast<float>(rate * kMuteRampSeconds);
  recoveries_ = 0;
  prepared_ = true;
  update();
  reset();
}

void VoiceChain::configure(const ParameterBlock& record) noexcept {
  params_ = record;
  if (prepared_) update();
}

void VoiceChain::update() noexcept {
  inputGain_ = dbToGain(params_.inputGainDb);
  outputGain_ = dbToGain(params_.outputGainDb);
  highPass_.configure(highPassSettings(params_));
  humFilter_.configure(humSettings(params_));
  suppressor_.configure(suppressorSettings(params_));
  plosive_.configure(plosiveSettings(params_));
  gate_.configure(gateSettings(params_));
  equalizer_.configure(equalizerSettings(params_));
  deEsser_.configure(deEsserSettings(params_));
  agc_.configure(agcSettings(params_));
  compressor_.configure(compressorSettings(params_));
  voiceEffect_.configure(voiceEffectSettings(params_));
  limiter_.configure(limiterSettings(params_));
}

void VoiceChain::reset() noexcept {
  dcBlocker_.reset();
  highPass_.reset();
  humFilter_.reset();
  suppressor_.reset();
  voiceTracker_.reset();
  inputTracker_.reset();
  gate_.reset();
  compressor_.reset();
  limiter_.reset();
  agc_.reset();
  equalizer_.reset();
  deEsser_.reset();
  plosive_.reset();
  // The voice effect keeps its state: it clears itself when its mode changes.
  // No ramp after a reset: a muted stream is silent from its first sample.
  muteGain_ = params_.mute != 0 ? 0.0f : 1.0f;
}

int VoiceChain::latencySamples() const noexcept {
  return suppressor_.frameSize() + limiter_.lookaheadSamples() - 1;
}

// Each stage sees the same samples in the same order as in a loop that runs the stages one
// after another per sample; the loops below only group the per-sample stages into a few passes
// over the block, with the stages copied into locals so their state stays in registers (the
// samples cannot alias a local), and skip multiplications by exactly 1.
void VoiceChain::process(float* samples, int count) noexcept {
  if (count <= 0) return;

  if (params_.bypass != 0) {
    BlockMeasure raw;
    for (int i = 0; i < count; ++i) raw.add(samples[i]);
    inputTracker_.process(samples, count);
    meters_.inputPeak = meters_.outputPeak = raw.peak;
    meters_.inputMeanSquare = meters_.outputMeanSquare = raw.meanSquare(count);
    meters_.inputBackgroundDb = inputTracker_.backgroundDb();
    meters_.gateGain = 1.0f;
    meters_.compressorReductionDb = 0.0f;
    meters_.limiterMinGain = 1.0f;
    meters_.agcGainDb = 0.0f;
    meters_.deEsserMinGain = 1.0f;
    meters_.plosiveMinGain = 1.0f;
    meters_.suppressorAttenuationDb = 0.0f;
    return;
  }
  processActive(samples, count);
}

void VoiceChain::processActive(float* samples, int count) noexcept {
  if (count <= 0) return;
  conditionAndSuppress(samples, count);
  // Replaces, for this block, the thresholds update() took from the record.
  if (params_.gateAuto != 0) gate_.setAutoThreshold(voiceTracker_.backgroundDb());
  shapeVoice(samples, count);
  compress(samples, count);
  voiceEffect_.process(samples, count);
  runOutputStage(samples, count);
  guardOutput(samples, count);
  guardFilterState();

  meters_.inputBackgroundDb = inputTracker_.backgroundDb();
  meters_.gateGain = gate_.gain();
  meters_.compressorReductionDb = compressor_.reductionDb();
  meters_.limiterMinGain = limiter_.takeBlockMinGain();
  meters_.agcGainDb = agc_.gainDb();
  meters_.deEsserMinGain = deEsser_.blockMinGain();
  meters_.plosiveMinGain = plosive_.blockMinGain();
  deEsser_.clearBlockMinGain();
  plosive_.clearBlockMinGain();
  meters_.suppressorAttenuationDb = params_.nsEnabled != 0 ? suppressor_.suppressionDb() : 0.0f;
  meters_.voiceActive = voiceTracker_.voiceActive();
}

// Raw measures and the input tracker on the untouched sample; input gain, DC blocker, high-pass
// sections and hum notches; the suppressor's exchange, and the voice tracker on what comes out.
// A short cascade runs inside the one loop; a longer one gets a skewed pass of its own, since a
// loop whose samples each wait on a long chain of sections cannot overlap one sample with the
// next.
void VoiceChain::conditionAndSuppress(float* samples, int count) noexcept {
  std::array<BiquadSection*, kMaxInputSections> sections;
  int sectionCount = highPass_.activeSections(sections.data());
  sectionCount += humFilter_.activeSections(sections.data() + sectionCount);

  BlockMeasure raw;
  LevelTracker inputTracker = inputTracker_;
  LevelTracker voiceTracker = voiceTracker_;
  DcBlocker dcBlocker = dcBlocker_;
  const float inputGain = inputGain_;
  auto condition = [&](float x) {
    raw.add(x);
    inputTracker.process(x);
    return dcBlocker.process(x * inputGain);
  };
  auto suppress = [&](float x) {
    const float y = suppressor_.processSample(x);
    voiceTracker.process(y);
    return y;
  };
  if (sectionCount <= kSectionsInLoop) {
    withLocalCascade<kSectionsInLoop>(sections.data(), sectionCount, [&](auto& cascade) {
      runSkewed(
          samples, count, condition, [&](float x) { return cascade.process(x); }, suppress);
    });
  } else {
    for (int i = 0; i < count; ++i) samples[i] = condition(samples[i]);
    cascades_->cascade(sections.data(), sectionCount, samples, count);
    for (int i = 0; i < count; ++i) samples[i] = suppress(samples[i]);
  }
  inputTracker_ = inputTracker;
  voiceTracker_ = voiceTracker;
  dcBlocker_ = dcBlocker;
  meters_.inputPeak = raw.peak;
  meters_.inputMeanSquare = raw.meanSquare(count);
}

// Plosive suppressor and gate; the equaliser (while switched on); the de-esser and the
// automatic gain's measuring of what leaves it.
void VoiceChain::shapeVoice(float* samples, int count) noexcept {
  std::array<BiquadSection*, kMaxVoiceSections> sections;
  const int sectionCount = params_.eqEnabled != 0 ? equalizer_.activeSections(sections.data()) : 0;
  PlosiveSuppressor plosive = plosive_;
  NoiseGate gate = gate_;
  DeEsser deEsser = deEsser_;
  LoudnessAgc agc = agc_;
  auto finish = [&](float x) {
    const float y = deEsser.process(x);
    agc.measure(y);
    return y;
  };
  auto run = [&](auto gateStep) {
    if (sectionCount == 0) {
      runSkewed(
          samples, count, [&](float x) { return plosive.process(x); }, gateStep, finish);
    } else {
      for (int i = 0; i < count; ++i) samples[i] = gateStep(plosive.process(samples[i]));
      cascades_->cascade(sections.data(), sectionCount, samples, count);
      for (int i = 0; i < count; ++i) samples[i] = finish(samples[i]);
    }
  };
  if (gate.atUnity()) {
    run([&](float x) { return gate.processAtUnity(x); });
  } else {
    run([&](float x) { return gate.process(x); });
  }
  plosive_ = plosive;
  gate_ = gate;
  deEsser_ = deEsser;
  agc_ = agc;
}

// The automatic gain's ramp over the block, then the compressor.
void VoiceChain::compress(float* samples, int count) noexcept {
  LoudnessAgc::Ramp ramp = agc_.finishBlock(count, voiceTracker_.voiceActive());
  if (!ramp.isUnity()) {
    for (int i = 0; i < count; ++i) samples[i] = ramp.apply(samples[i]);
  }
  compressor_.process(samples, count);
}

// Output gain, then the limiter (whose delay line always runs), then the mute ramp, and the
// output measures on the result.
void VoiceChain::runOutputStage(float* samples, int count) noexcept {
  const float outputGain = outputGain_;
  if (outputGain != 1.0f) {
    for (int i = 0; i < count; ++i) samples[i] *= outputGain;
  }
  limiter_.process(samples, count);

  const float muteTarget = params_.mute != 0 ? 0.0f : 1.0f;
  const float muteStep = muteStep_;
  float muteGain = muteGain_;
  BlockMeasure out;
  if (muteGain == 1.0f && muteTarget == 1.0f) {
    // Unmuted at rest: the ramp stays at 1 and its multiply changes nothing.
    for (int i = 0; i < count; ++i) out.add(samples[i]);
  } else {
    for (int i = 0; i < count; ++i) {
      if (muteGain < muteTarget) {
        muteGain = std::min(muteGain + muteStep, muteTarget);
      } else if (muteGain > muteTarget) {
        muteGain = std::max(muteGain - muteStep, muteTarget);
      }
      const float y = muteGain * samples[i];
      samples[i] = y;
      out.add(y);
    }
  }
  muteGain_ = muteGain;
  meters_.outputPeak = out.peak;
  meters_.outputMeanSquare = out.meanSquare(count);
}

// At the block boundary: when a filter's sections have gone non-finite or run away (abrupt
// redesigns of a resonant section can make its kept state diverge), the chain starts again
// from silence: the stages after it have taken in what it sent. Ordinary redesigns keep their
// state; only a state no signal could have produced is cleared.
void VoiceChain::guardFilterState() noexcept {
  std::array<BiquadSection*, kMaxVoiceSections> sections;
  const bool sound = statesAreSound(sections.data(), highPass_.activeSections(sections.data())) &&
                     statesAreSound(sections.data(), humFilter_.activeSections(sections.data())) &&
                     statesAreSound(sections.data(), equalizer_.activeSections(sections.data())) &&
                     deEsser_.sidechain().stateIsSound() && deEsser_.split().stateIsSound();
  if (!sound) recover();
}

// Clears every stage's signal state, the voice effect's too.
void VoiceChain::recover() noexcept {
  reset();
  voiceEffect_.reset();
  ++recoveries_;
}

// The last line of defence, read off the output measures so a sound block costs one compare: a
// non-finite sample means some stage's state is poisoned, so the whole chain restarts and the
// block is silent; a finite sample past the limit (the limiter switched off) is clipped to it.
void VoiceChain::guardOutput(float* samples, int count) noexcept {
  if (meters_.outputPeak <= kOutputLimit && !std::isnan(meters_.outputMeanSquare)) return;
  bool finite = true;
  for (int i = 0; i < count; ++i) finite = finite && std::isfinite(samples[i]);
  if (!finite) {
    recover();
    std::fill(samples, samples + count, 0.0f);
  } else {
    for (int i = 0; i < count; ++i)
      samples[i] = std::clamp(samples[i], -kOutputLimit, kOutputLimit);
  }
  BlockMeasure out;
  for (int i = 0; i < count; ++i) out.add(samples[i]);
  meters_.outputPeak = out.peak;
  meters_.outputMeanSquare = out.meanSquare(count);
}

}  // namespace vorlund
