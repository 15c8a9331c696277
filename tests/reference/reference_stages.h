// The stages whose processing the product restructured for speed, written the straightforward
// way, one sample or one block at a time exactly as their definitions state them: the
// compressor (which now skips logarithms below its knee and repeated exponentials), the
// de-esser (which skips logarithms far below its threshold and reuses its deepest gain), the
// loudness automatic gain (split into measuring and ramping, unity ramps skipped) and the
// look-ahead limiter (window state in locals, no modulo). The product must match them bit for
// bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "chain/biquad.h"
#include "chain/compressor.h"
#include "chain/de_esser.h"
#include "chain/gain.h"
#include "chain/lookahead_limiter.h"
#include "chain/loudness_agc.h"

namespace vorlund::reference {

class ReferenceCompressor {
 public:
  void prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
  }
  void configure(const Compressor::Settings& settings) {
    const auto [enabled, thresholdDb, ratio, attackMs, releaseMs, kneeDb, makeupDb, autoMakeup] =
        settings;
    enabled_ = enabled;
    thresholdDb_ = thresholdDb;
    kneeDb_ = std::max(0.0f, kneeDb);
    attack_ = smoothingCoefficient(attackMs, sampleRate_);
    release_ = smoothingCoefficient(releaseMs, sampleRate_);
    const float inverseRatio = 1.0f / std::max(1.0f, ratio);
    slope_ = inverseRatio - 1.0f;
    float makeup = makeupDb;
    if (autoMakeup)
      makeup += std::clamp((1.0f - inverseRatio) * (-0.5f * thresholdDb), 0.0f, 15.0f);
    makeupDb_ = enabled ? makeup : 0.0f;
  }
  void reset() { heldReduction_ = smoothedReduction_ = reductionDb_ = 0.0f; }
  float process(float x) {
    if (!enabled_) return x;
    const float magnitude = std::fabs(x);
    const float levelDb = magnitude > 1e-6f ? 20.0f * fastLog10(magnitude) : -120.0f;
    const float over = levelDb - thresholdDb_;
    float reduction;
    if (-kneeDb_ > 2.0f * over) {
      reduction = 0.0f;
    } else if (kneeDb_ > 0.0f && kneeDb_ >= 2.0f * std::fabs(over)) {
      const float intoKnee = over + 0.5f * kneeDb_;
      reduction = -slope_ * intoKnee * intoKnee / (2.0f * kneeDb_);
    } else {
      reduction = -slope_ * over;
    }
    heldReduction_ = std::max((1.0f - release_) * reduction + release_ * heldReduction_, reduction);
    smoothedReduction_ = (1.0f - attack_) * heldReduction_ + attack_ * smoothedReduction_;
    reductionDb_ = -smoothedReduction_;
    return x * dbToGain(makeupDb_ - smoothedReduction_);
  }
  float reductionDb() const { return reductionDb_; }

 private:
  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  float thresholdDb_ = 0.0f, slope_ = 0.0f, kneeDb_ = 0.0f, attack_ = 0.0f, release_ = 0.0f;
  float makeupDb_ = 0.0f, heldReduction_ = 0.0f, smoothedReduction_ = 0.0f, reductionDb_ = 0.0f;
};

class ReferenceDeEsser {
 public:
  void prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    envelope_.set(0.5, 30.0, sampleRate);
    detectorThreshold_ = dbToGain(-50.0f);
    gainAttack_ = smoothingCoefficient(1.0, sampleRate);
    gainRelease_ = smoothingCoefficient(45.0, sampleRate);
    design();
    reset();
  }
  void configure(const DeEsser::Settings& settings) {
    const auto [enabled, frequencyHz, amount] = settings;
    enabled_ = enabled;
    relativeThresholdDb_ = -6.0f - 12.0f * amount;
    maxReductionDb_ = 3.0f + 9.0f * amount;
    if (!(frequencyHz == frequency_)) {
      frequency_ = frequencyHz;
      design();
    }
  }
  void reset() {
    sidechain_.reset();
    split_.reset();
    sideEnvelope_ = fullEnvelope_ = 0.0f;
    gain_ = blockMinGain_ = 1.0f;
  }
  float process(float x) {
    const float side = sidechain_.process(x);
    sideEnvelope_ = envelope_.follow(sideEnvelope_, std::fabs(side));
    fullEnvelope_ = envelope_.follow(fullEnvelope_, std::fabs(x));
    float target = 1.0f;
    if (enabled_ && sideEnvelope_ > detectorThreshold_ && fullEnvelope_ > 1e-9f) {
      const float ratio = sideEnvelope_ / fullEnvelope_;
      const float ratioDb = ratio > 1e-10f ? 20.0f * fastLog10(ratio) : -200.0f;
      const float over = ratioDb - relativeThresholdDb_;
      if (over > 0.0f) target = dbToGain(-std::min(maxReductionDb_, 1.5f * over));
    }
    gain_ = follow(gain_, target, gain_ > target ? gainAttack_ : gainRelease_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;
    const float high = split_.process(x);
    return x - high + gain_ * high;
  }
  float blockMinGain() const { return blockMinGain_; }
  void clearBlockMinGain() { blockMinGain_ = 1.0f; }

 private:
  void design() {
    designBiquad(sidechain_, FilterType::BandPass, sampleRate_, frequency_, 0.0, 1.0);
    designBiquad(split_, FilterType::HighPass, sampleRate_, 0.55 * frequency_, 0.0, 0.7071);
  }

  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  float frequency_ = 6500.0f, relativeThresholdDb_ = -6.0f, maxReductionDb_ = 3.0f;
  float detectorThreshold_ = 0.0f;
  BiquadSection sidechain_{}, split_{};
  AttackRelease envelope_{};
  float sideEnvelope_ = 0.0f, fullEnvelope_ = 0.0f, gainAttack_ = 0.0f, gainRelease_ = 0.0f;
  float gain_ = 1.0f, blockMinGain_ = 1.0f;
};

class ReferenceLoudnessAgc {
 public:
  void prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    designBiquad(shelf_, FilterType::HighShelf, sampleRate, 1681.97, 3.9998, 0.7071752);
    designBiquad(highPass_, FilterType::HighPass, sampleRate, 38.13547, 0.0, 0.500327);
    coefficient_ = smoothingCoefficient(400.0, sampleRate);
    reset();
  }
  void configure(const LoudnessAgc::Settings& settings) {
    const auto [enabled, targetDb, maxGainDb, speed] = settings;
    enabled_ = enabled;
    targetLoudness_ = targetDb;
    maxGainDb_ = maxGainDb;
    ratePerSecond_ = 1.0f + 9.0f * std::clamp(speed, 0.0f, 1.0f);
  }
  void reset() {
    shelf_.reset();
    highPass_.reset();
    meanSquare_ = gainDb_ = 0.0f;
    currentGain_ = 1.0f;
  }
  void process(float* samples, int count, bool voiceActive) {
    if (count <= 0) return;
    for (int i = 0; i < count; ++i) {
      const float k = shelf_.process(highPass_.process(samples[i]));
      meanSquare_ = follow(meanSquare_, k * k, coefficient_);
    }
    const float seconds = static_cast<float>(count / sampleRate_);
    if (enabled_) {
      const float loudness = meanSquareToDb(meanSquare_) - 0.691f;
      if (voiceActive && loudness > -65.0f) {
        const float step = seconds * ratePerSecond_;
        const float error = targetLoudness_ - (loudness + gainDb_);
        const float fastestFall = -2.0f * step;
        gainDb_ += fastestFall > error ? fastestFall : std::min(step, error);
      }
      gainDb_ = gainDb_ < -12.0f ? -12.0f : std::min(maxGainDb_, gainDb_);
    } else {
      gainDb_ += std::min(20.0f * seconds, 1.0f) * -gainDb_;
    }
    const float target = dbToGain(gainDb_);
    const float step = (target - currentGain_) / static_cast<float>(count);
    float gain = currentGain_;
    for (int i = 0; i < count; ++i) {
      gain += step;
      samples[i] *= gain;
    }
    currentGain_ = target;
  }
  float gainDb() const { return gainDb_; }

 private:
  double sampleRate_ = 48000.0;
  bool enabled_ = false;
  BiquadSection shelf_{}, highPass_{};
  float meanSquare_ = 0.0f, coefficient_ = 0.0f, gainDb_ = 0.0f, currentGain_ = 1.0f;
  float targetLoudness_ = 0.0f, maxGainDb_ = 0.0f, ratePerSecond_ = 0.0f;
};

class ReferenceLimiter {
 public:
  void prepare(double sampleRate) {
    lookahead_ = std::max(8, static_cast<int>(sampleRate * 0.0015));
    releaseCoefficient_ = smoothingCoefficient(60.0, sampleRate);
    delay_.assign(lookahead_, 0.0f);
    averageRing_.assign(lookahead_, 1.0f);
    dequeValues_.assign(lookahead_ + 1, 1.0f);
    dequeTimes_.assign(lookahead_ + 1, 0u);
    reset();
  }
  void configure(const LookaheadLimiter::Settings& settings) {
    const auto [enabled, ceilingDb] = settings;
    enabled_ = enabled;
    ceiling_ = dbToGain(ceilingDb);
  }
  void reset() {
    std::fill(delay_.begin(), delay_.end(), 0.0f);
    std::fill(averageRing_.begin(), averageRing_.end(), 1.0f);
    writePos_ = dequeFront_ = dequeBack_ = recomputeCounter_ = 0;
    clock_ = 0;
    gain_ = blockMinGain_ = 1.0f;
    runningSum_ = lookahead_;
  }
  float process(float x) {
    const int length = lookahead_;
    const int capacity = length + 1;
    const float magnitude = std::fabs(x);
    const float required = enabled_ && magnitude > ceiling_ ? ceiling_ / magnitude : 1.0f;
    while (dequeBack_ != dequeFront_) {
      const int previous = (dequeBack_ + length) % capacity;
      if (dequeValues_[previous] < required) break;
      dequeBack_ = previous;
    }
    dequeValues_[dequeBack_] = required;
    dequeTimes_[dequeBack_] = clock_;
    dequeBack_ = (dequeBack_ + 1) % capacity;
    while (clock_ - dequeTimes_[dequeFront_] >= static_cast<std::uint32_t>(length))
      dequeFront_ = (dequeFront_ + 1) % capacity;
    const float windowMinimum = dequeValues_[dequeFront_];
    runningSum_ += static_cast<double>(windowMinimum - averageRing_[writePos_]);
    averageRing_[writePos_] = windowMinimum;
    if (++recomputeCounter_ == 65536) {
      recomputeCounter_ = 0;
      double sum = 0.0;
      for (float value : averageRing_) sum += value;
      runningSum_ = sum;
    }
    const float average = static_cast<float>(runningSum_ / length);
    gain_ = gain_ > average ? average : follow(gain_, average, releaseCoefficient_);
    if (gain_ < blockMinGain_) blockMinGain_ = gain_;
    delay_[writePos_] = x;
    writePos_ = writePos_ + 1 == length ? 0 : writePos_ + 1;
    const float delayed = delay_[writePos_];
    ++clock_;
    float y = delayed * gain_;
    if (enabled_) y = std::clamp(y, -ceiling_, ceiling_);
    return y;
  }
  int lookaheadSamples() const { return lookahead_; }
  float takeBlockMinGain() {
    const float minimum = blockMinGain_;
    blockMinGain_ = 1.0f;
    return minimum;
  }

 private:
  bool enabled_ = false;
  int lookahead_ = 1, writePos_ = 0, dequeFront_ = 0, dequeBack_ = 0, recomputeCounter_ = 0;
  std::uint32_t clock_ = 0;
  float ceiling_ = 1.0f, releaseCoefficient_ = 0.0f, gain_ = 1.0f, blockMinGain_ = 1.0f;
  double runningSum_ = 0.0;
  std::vector<float> delay_, averageRing_, dequeValues_;
  std::vector<std::uint32_t> dequeTimes_;
};

}  // namespace vorlund::reference
