// Layer: signal
// Built twice, as the lane kernels (chain/lane_kernels.cpp): the voice stages between the noise
// suppressor and the compressor as one pipeline over the block, skewed by one sample per step
// as in chain/skewed_pipeline.h, with the second-order sections of neighbouring steps packed
// four to a vector: the plosive suppressor's two split sections of both bands in one, the
// de-esser's sidechain and split with the automatic gain's two weighting sections in another.
// Each lane computes what BiquadSection::process computes, so the stages give the same bits as
// their own process().
#include <array>

#include "chain/de_esser.h"
#include "chain/fast_math.h"
#include "chain/gain.h"
#include "chain/lane_kernels.h"
#include "chain/lanes.h"
#include "chain/loudness_agc.h"
#include "chain/noise_gate.h"
#include "chain/plosive_suppressor.h"

namespace vorlund {
inline namespace VORLUND_LANE_SET {
namespace {

using Mask = int __attribute__((vector_size(16)));

// Four sections side by side, lane k one section.
struct SectionQuad {
  Quad b0, b1, b2, a1, a2, z1, z2;

  Quad process(Quad x) noexcept {
    const Quad y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
  // process() for the lanes in `active` only; the others keep their state.
  Quad processLanes(Quad x, Mask active) noexcept {
    const Quad keep1 = z1;
    const Quad keep2 = z2;
    const Quad y = process(x);
    z1 = active ? z1 : keep1;
    z2 = active ? z2 : keep2;
    return y;
  }
};

Quad joined(FloatPair low, FloatPair high) noexcept {
  return Quad{low[0], low[1], high[0], high[1]};
}
FloatPair lowHalf(Quad v) noexcept {
  return __builtin_shufflevector(v, v, 0, 1);
}
FloatPair highHalf(Quad v) noexcept {
  return __builtin_shufflevector(v, v, 2, 3);
}

// Lanes 0, 1: a pair's first and second section; lanes 2, 3: another pair's.
SectionQuad packPairs(const SectionPair& first, const SectionPair& second) noexcept {
  return {joined(first.b0, second.b0), joined(first.b1, second.b1), joined(first.b2, second.b2),
          joined(first.a1, second.a1), joined(first.a2, second.a2), joined(first.z1, second.z1),
          joined(first.z2, second.z2)};
}
void unpackPairs(const SectionQuad& quad, SectionPair& first, SectionPair& second) noexcept {
  first.z1 = lowHalf(quad.z1);
  first.z2 = lowHalf(quad.z2);
  second.z1 = highHalf(quad.z1);
  second.z2 = highHalf(quad.z2);
}
// Lanes 0, 1: a pair; lane 2 and 3: two sections.
SectionQuad packPairAndTwo(const SectionPair& pair, const BiquadSection& third,
                           const BiquadSection& fourth) noexcept {
  return {joined(pair.b0, FloatPair{third.b0, fourth.b0}),
          joined(pair.b1, FloatPair{third.b1, fourth.b1}),
          joined(pair.b2, FloatPair{third.b2, fourth.b2}),
          joined(pair.a1, FloatPair{third.a1, fourth.a1}),
          joined(pair.a2, FloatPair{third.a2, fourth.a2}),
          joined(pair.z1, FloatPair{third.z1, fourth.z1}),
          joined(pair.z2, FloatPair{third.z2, fourth.z2})};
}
void unpackPairAndTwo(const SectionQuad& quad, SectionPair& pair, BiquadSection& third,
                      BiquadSection& fourth) noexcept {
  pair.z1 = lowHalf(quad.z1);
  pair.z2 = lowHalf(quad.z2);
  third.z1 = quad.z1[2];
  third.z2 = quad.z2[2];
  fourth.z1 = quad.z1[3];
  fourth.z2 = quad.z2[3];
}

// DeEsser::targetFor() of four ratios, each lane exactly as the scalar call: the logarithm and
// the exponential only where a lane needs them, a vector of lanes at a time.
Quad deEsserTargets(Quad ratio, const DeEsser::CutShape& shape) noexcept {
  const Quad one = broadcast<Quad>(1.0f);
  const Quad deepest = broadcast<Quad>(shape.deepestGain);
  const Mask quiet = ratio < shape.quietRatio;
  const Mask loud = ratio > shape.loudRatio;
  const Mask between = ~(quiet | loud);
  if ((between[0] | between[1] | between[2] | between[3]) == 0) return quiet ? one : deepest;
  // DeEsser::targetGain(): amplitudeToDb(), the cut, dbToGain().
  const Quad ratioDb =
      ratio > kSilentAmplitude ? 20.0f * fastLog10(ratio) : broadcast<Quad>(kSilenceDb);
  const Quad over = ratioDb - shape.relativeThresholdDb;
  const Quad cutDb = shape.cutPerDbOver * over;
  const Quad cut = cutDb < shape.maxReductionDb ? fastExp(-cutDb * kDbToNeper) : deepest;
  const Quad gain = over > 0.0f ? cut : one;
  return quiet ? one : (loud ? deepest : gain);
}

// The stages copied into locals for the block (their state then stays in registers: the
// samples cannot alias it) and the pipeline's carries from one step to the next. Step t runs
// the front's stages on samples t (the split's first sections), t - 1 (its second sections,
// then the cut) and t - 2 (the gate), and the back's on samples t - b (the de-esser's filters
// and envelopes), t - b - kApplyLag (its cut), kWeightingLag samples earlier (the low cut) and
// one more (the shelf and the mean square), where b is 3 behind the front and 0 alone.
template <bool kFront, bool kBack>
class VoicePipeline {
 public:
  static constexpr int kBackFirst = kFront ? 3 : 0;
  // The back alone (its input ready for the whole block) works out the de-esser's targets four
  // samples at a time, which takes the logarithm and exponential off each sample's path; the
  // cut follows its envelopes kApplyLag steps later, when the targets are long computed.
  static constexpr bool kBatchedTargets = !kFront;
  static constexpr int kApplyLag = kBatchedTargets ? 8 : 0;
  // Holds the samples from a cut's to its envelopes' (kApplyLag, at least the 4 of a batch)
  // and the batch being filled.
  static constexpr int kTargetRing = 16;
  static_assert(kApplyLag == 0 || (kApplyLag >= 4 && kApplyLag + 4 <= kTargetRing));
  // Steps from the de-esser's output to the low cut. The low cut shares its vector with the
  // de-esser's sections, which so wait on the low cut's input; where the cut follows its
  // detector at once, a lag of one step would put the whole detector (a division, a logarithm,
  // an exponential) on the path from one step to the next, a lag of several spreads it over as
  // many steps. Behind batched targets the cut is short and one step does.
  static constexpr int kWeightingLag = kBatchedTargets ? 1 : 4;
  static constexpr int kStages = (kFront ? 3 : 0) + (kBack ? kApplyLag + kWeightingLag + 2 : 0);

  explicit VoicePipeline(const VoiceStages& stages) noexcept
      : stages_(stages),
        plosive_(stages.plosive),
        gate_(stages.gate),
        deEsser_(stages.deEsser),
        agc_(stages.agc),
        split_(packPairs(plosive_.split()[0], plosive_.split()[1])),
        weighting_(packPairAndTwo(deEsser_.filters(), agc_.lowCut(), agc_.shelf())) {}
  ~VoicePipeline() {
    unpackPairs(split_, plosive_.split()[0], plosive_.split()[1]);
    unpackPairAndTwo(weighting_, deEsser_.filters(), agc_.lowCut(), agc_.shelf());
    stages_.plosive = plosive_;
    stages_.gate = gate_;
    stages_.deEsser = deEsser_;
    stages_.agc = agc_;
  }
  VoicePipeline(const VoicePipeline&) = delete;
  VoicePipeline& operator=(const VoicePipeline&) = delete;

  template <typename GateStep>
  void run(float* samples, int count, GateStep gateStep) noexcept {
    const int lastStep = count + kStages - 1;
    int at = 0;
    for (; at < kStages - 1 && at < lastStep; ++at) step<true>(samples, at, count, gateStep);
    for (; at < count; ++at) step<false>(samples, at, count, gateStep);
    for (; at < lastStep; ++at) step<true>(samples, at, count, gateStep);
  }

  PlosiveSuppressor& plosive() noexcept { return plosive_; }
  NoiseGate& gate() noexcept { return gate_; }

 private:
  // One step; at the block's edges (kEdge) a stage whose sample lies outside it does nothing.
  // The back runs first so that it reads the front's carries of the step before.
  template <bool kEdge, typename GateStep>
  void step(float* samples, int at, int count, GateStep& gateStep) noexcept {
    auto inBlock = [&](int sample) { return !kEdge || (sample >= 0 && sample < count); };
    if constexpr (kBack) {
      const int sample = at - kBackFirst;
      const int applied = sample - kApplyLag;
      const bool deEss = inBlock(sample);
      const bool apply = inBlock(applied);
      const bool lowCut = inBlock(applied - kWeightingLag);
      const bool shelf = inBlock(applied - kWeightingLag - 1);
      float x = 0.0f;
      if (deEss) x = kFront ? gateOut_ : samples[at];
      const Quad in{x, x, deEsserOut_[kWeightingLag - 1], weightingOut_[2]};
      const Quad out = kEdge ? weighting_.processLanes(in, Mask{deEss, deEss, lowCut, shelf})
                             : weighting_.process(in);
      if (shelf) agc_.measureWeighted(out[3]);
      for (int i = kWeightingLag - 1; i > 0; --i) deEsserOut_[i] = deEsserOut_[i - 1];
      if constexpr (kBatchedTargets) {
        // The cut reads its sample before anything writes it; the envelopes write ring slots
        // that no pending cut reads any more.
        if (apply) {
          const int slot = applied % kTargetRing;
          deEsserOut_[0] = deEsser_.applyTarget(samples[applied], highs_[slot], targets_[slot]);
          samples[applied] = deEsserOut_[0];
        }
        if (deEss) {
          const int slot = sample % kTargetRing;
          ratios_[slot] = deEsser_.detect(x, lowHalf(out));
          highs_[slot] = out[1];
          if (slot % 4 == 3 || sample == count - 1) {
            const int first = slot - slot % 4;
            store(targets_ + first, deEsserTargets(load<Quad>(ratios_ + first), cutShape_));
          }
        }
      } else if (deEss) {
        deEsserOut_[0] = deEsser_.applyFiltered(x, lowHalf(out));
        samples[sample] = deEsserOut_[0];
      }
      weightingOut_ = out;
    }
    if constexpr (kFront) {
      const bool first = inBlock(at);
      const bool second = inBlock(at - 1);
      if (inBlock(at - 2)) {
        const float y = gateStep(gate_, plosiveOut_);
        if constexpr (kBack) {
          gateOut_ = y;
        } else {
          samples[at - 2] = y;
        }
      }
      const float x = first ? samples[at] : 0.0f;
      const Quad in = joined(FloatPair{x, x}, lowHalf(splitOut_));
      const Quad out =
          kEdge ? split_.processLanes(in, Mask{first, first, second, second}) : split_.process(in);
      if (second) plosiveOut_ = plosive_.applyBands(plosiveIn_, highHalf(out));
      plosiveIn_ = x;
      splitOut_ = out;
    }
  }

  const VoiceStages& stages_;
  PlosiveSuppressor plosive_;
  NoiseGate gate_;
  DeEsser deEsser_;
  LoudnessAgc agc_;
  SectionQuad split_;
  SectionQuad weighting_;
  Quad splitOut_{};
  Quad weightingOut_{};
  float plosiveIn_ = 0.0f;
  float plosiveOut_ = 0.0f;
  float gateOut_ = 0.0f;
  // The de-esser's band ratios, upper bands and targets by sample, in rings (kBatchedTargets).
  const DeEsser::CutShape cutShape_ = deEsser_.cutShape();
  float ratios_[kTargetRing]{};
  float highs_[kTargetRing]{};
  float targets_[kTargetRing]{};
  // The de-esser's outputs of the last kWeightingLag steps, newest first.
  std::array<float, kWeightingLag> deEsserOut_{};
};

// Flattened: every stage member the pipeline calls is inlined here, so this unit's AVX2 build
// never emits an out-of-line copy under a name the SSE2 code shares (the linker could keep
// that copy for both; builds that inline less, such as the sanitizers', did emit one).
template <bool kFront, bool kBack>
[[gnu::flatten]] void runPart(const VoiceStages& stages, float* samples, int count) noexcept {
  VoicePipeline<kFront, kBack> pipeline(stages);
  if constexpr (kFront) {
    if (pipeline.gate().atUnity()) {
      pipeline.run(samples, count, [](NoiseGate& g, float x) { return g.processAtUnity(x); });
      return;
    }
  }
  pipeline.run(samples, count, [](NoiseGate& g, float x) { return g.process(x); });
}

}  // namespace

void runVoiceStages(const VoiceStages& stages, VoiceStagePart part, float* samples,
                    int count) noexcept {
  switch (part) {
    case VoiceStagePart::Front:
      runPart<true, false>(stages, samples, count);
      break;
    case VoiceStagePart::Back:
      runPart<false, true>(stages, samples, count);
      break;
    case VoiceStagePart::All:
      runPart<true, true>(stages, samples, count);
      break;
  }
}

}  // namespace VORLUND_LANE_SET
}  // namespace vorlund
