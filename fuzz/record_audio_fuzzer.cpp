// Fuzz target for the real-time path: any parameter record, any stream in the accepted range
// and any audio (NaN, infinities, denormals, huge values), with record changes, resets, relearn
// requests and re-locks in between, driven as the audio engine and a control application
// drive them: LockForProcess, records and relearn requests through the shared block, then
// APOProcess (the block frame and the voice chain). Whatever arrives, it requires: no crash or
// sanitizer report, an accepted stream always locks and each block is processed, every output
// sample finite, no sample above the limiter's ceiling while the limiter runs, the record in
// force sanitised, and finite meters (-200 for silence in the published levels).
//
// Input layout (FuzzInput: zeros once the bytes run out):
//   524 bytes   the initial record, any content
//   stream      rate, channels, input and output maximum frame counts (readStream)
//   operations  one tag byte each, then its own fields (Op), until the input or a budget ends
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include "chain/gain.h"
#include "channel/parameter_channel.h"
#include "engine/parameter_block.h"
#include "engine/processing_lifecycle.h"
#include "engine/shared_block.h"
#include "engine/stream_format.h"
#include "engine_stream.h"
#include "fuzz_input.h"
#include "temp_data_folder.h"

namespace vorlund::fuzz {
namespace {

constexpr auto kMinRate = static_cast<std::uint32_t>(kMinFrameRate);
constexpr auto kMaxRate = static_cast<std::uint32_t>(kMaxFrameRate);
constexpr std::uint32_t kMaxChannels = 64;
// Largest maximum frame count drawn: above the 10 ms block of the highest rate.
constexpr std::uint32_t kMaxLockFrames = 4096;
// Blocks may claim up to this many frames beyond the locked maximum.
constexpr std::uint32_t kOverlongFrames = 64;
// Per input, so that one execution stays in the millisecond range under the sanitizers.
constexpr std::uint64_t kFrameBudget = 1u << 17;
constexpr std::uint64_t kChannelSampleBudget = 1u << 20;
constexpr int kRelockBudget = 6;

enum class Op : std::uint8_t {
  Block0,
  Block1,
  Block2,
  Block3,
  Record,   // 524 bytes: a whole new record
  Patch,    // 1 to 4 times: word index (byte), 4-byte value
  Reset,    // what IAudioProcessingObject::Reset does
  Relearn,  // what a change of the shared block's relearn counter does
  Relock,   // unlock, then lock with a new stream (readStream)
  Count,
};

enum class Source : std::uint8_t { Raw, Sine, Noise, Constant, Square, Impulses, Count };

// Values that broken drivers and hostile writers produce.
constexpr float kSpecialValues[] = {
    std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    1e30f,
    -1e30f,
    std::numeric_limits<float>::denorm_min(),
    -1e-40f,
    std::numeric_limits<float>::min(),
    -0.0f,
    1000.0f,
    1.0f,
    -1.0f,
};

struct Stream {
  float rate;
  std::uint32_t channels;
  std::uint32_t maxInputFrames;
  std::uint32_t maxOutputFrames;
};

Stream readStream(FuzzInput& in) {
  Stream s{};
  s.rate = static_cast<float>(in.inRange(kMinRate, kMaxRate));
  // Rates need not be whole numbers; the odd case adds a fraction of a hertz.
  const std::uint8_t fraction = in.byte();
  if ((fraction & 1) != 0) {
    s.rate =
        std::min(s.rate + static_cast<float>(fraction >> 1) / 128.0f, static_cast<float>(kMaxRate));
  }
  s.channels = in.inRange(1, kMaxChannels);
  s.maxInputFrames = in.inRange(1, kMaxLockFrames);
  s.maxOutputFrames = in.inRange(1, kMaxLockFrames);
  return s;
}

void lockStream(EngineStream& engine, const Stream& s) {
  engine.lock(s.rate, s.channels, s.maxInputFrames, s.maxOutputFrames);
}

// Signal sources whose phase and noise state run on across blocks, so tones stay continuous.
class Generator {
 public:
  void fill(FuzzInput& in, float* samples, std::uint32_t frames, std::uint32_t channels) {
    const std::size_t n = static_cast<std::size_t>(frames) * channels;
    const auto source = static_cast<Source>(in.byte() % static_cast<int>(Source::Count));
    switch (source) {
      case Source::Raw:
        in.read(samples, n * sizeof(float));
        break;
      case Source::Sine: {
        const float amplitude = readAmplitude(in);
        // Anywhere from 0 Hz to the Nyquist frequency.
        const double step = std::numbers::pi * (in.value<std::uint16_t>() / 65535.0);
        for (std::uint32_t k = 0; k < frames; ++k) {
          phase_ = std::fmod(phase_ + step, 2.0 * std::numbers::pi);
          spread(samples, k, channels, amplitude * static_cast<float>(std::sin(phase_)));
        }
        break;
      }
      case Source::Noise: {
        const float amplitude = readAmplitude(in);
        noise_ ^= in.value<std::uint32_t>();
        for (std::uint32_t k = 0; k < frames; ++k) {
          noise_ = noise_ * 1664525u + 1013904223u;
          const float unit = static_cast<float>(noise_ >> 8) / 8388608.0f - 1.0f;
          spread(samples, k, channels, amplitude * unit);
        }
        break;
      }
      case Source::Constant:
        std::fill(samples, samples + n, in.value<float>());
        break;
      case Source::Square: {
        const float amplitude = readAmplitude(in);
        const std::uint32_t halfPeriod = in.inRange(1, 512);
        for (std::uint32_t k = 0; k < frames; ++k, ++clock_)
          spread(samples, k, channels, (clock_ / halfPeriod) % 2 == 0 ? amplitude : -amplitude);
        break;
      }
      case Source::Impulses: {
        const float value = in.value<float>();
        const std::uint32_t period = in.inRange(1, 4096);
        for (std::uint32_t k = 0; k < frames; ++k, ++clock_)
          spread(samples, k, channels, clock_ % period == 0 ? value : 0.0f);
        break;
      }
      case Source::Count:
        break;
    }
    for (int special = in.byte() % 4; special > 0 && n != 0; --special) {
      const std::size_t at = in.value<std::uint32_t>() % n;
      const std::uint8_t pick = in.byte();
      constexpr int kSpecialCount = static_cast<int>(std::size(kSpecialValues));
      samples[at] = pick < kSpecialCount ? kSpecialValues[pick] : in.value<float>();
    }
  }

 private:
  // -130 dBFS to +61 dBFS in 0.75 dB steps: from below the denormal range to past clipping.
  static float readAmplitude(FuzzInput& in) {
    return dbToGain(static_cast<float>(in.byte()) * 0.75f - 130.0f);
  }
  static void spread(float* samples, std::uint32_t frame, std::uint32_t channels, float value) {
    std::fill_n(samples + static_cast<std::size_t>(frame) * channels, channels, value);
  }

  double phase_ = 0.0;
  std::uint32_t noise_ = 1;
  std::uint32_t clock_ = 0;
};

void checkChainMeters(const ChainMeters& m) {
  require(std::isfinite(m.inputPeak) && m.inputPeak >= 0.0f, "input peak finite");
  require(std::isfinite(m.inputMeanSquare) && m.inputMeanSquare >= 0.0f,
          "input mean square finite");
  require(std::isfinite(m.outputPeak) && m.outputPeak >= 0.0f, "output peak finite");
  require(std::isfinite(m.outputMeanSquare) && m.outputMeanSquare >= 0.0f,
          "output mean square finite");
  require(std::isfinite(m.gateGain), "gate gain finite");
  require(std::isfinite(m.compressorReductionDb), "compressor reduction finite");
  require(std::isfinite(m.limiterMinGain), "limiter gain finite");
  require(std::isfinite(m.agcGainDb), "automatic gain finite");
  require(std::isfinite(m.deEsserMinGain), "de-esser gain finite");
  require(std::isfinite(m.plosiveMinGain), "plosive gain finite");
  require(std::isfinite(m.suppressorAttenuationDb), "suppressor attenuation finite");
  require(std::isfinite(m.inputBackgroundDb), "background level finite");
}

// The published levels read -200 for silence, a zero gain or NaN, and are finite otherwise.
void checkPublishedMeters(const SharedBlock& b) {
  for (float level : {b.inputPeakDb, b.inputRmsDb, b.outputPeakDb, b.outputRmsDb, b.gateGainDb,
                      b.limiterGainDb, b.deEsserGainDb, b.plosiveGainDb}) {
    require(std::isfinite(level) && level >= kSilenceDb, "published level finite");
  }
  for (float copied : {b.noiseSuppressionDb, b.compressorReductionDb, b.agcGainDb,
                       b.inputBackgroundDb, b.processingLoad}) {
    require(std::isfinite(copied), "published measure finite");
  }
}

// Runs one block as the audio engine would hand it over and checks what came out.
void runBlock(ProcessingLifecycle& lifecycle, const Stream& s, Generator& generator, FuzzInput& in,
              std::uint64_t& frameBudget, std::uint64_t& sampleBudget) {
  const BlockFrame& frame = lifecycle.frame();
  const std::uint32_t lockedFrames = std::max(s.maxInputFrames, s.maxOutputFrames);
  const std::uint32_t drawn = in.inRange(0, lockedFrames + kOverlongFrames);
  const std::uint8_t mode = in.byte();
  const auto flags = static_cast<APO_BUFFER_FLAGS>((mode & 3) == 3 ? BUFFER_VALID : mode & 3);
  const bool inPlace = (mode & 4) != 0;
  const std::uint32_t claimed = (mode & 8) != 0 ? std::numeric_limits<std::uint32_t>::max() : drawn;
  // The engine's buffer holds the frames it claims, but never more than the locked maximum.
  const std::uint32_t frames = std::min(claimed, lockedFrames);
  const std::uint64_t channelSamples = static_cast<std::uint64_t>(frames) * s.channels;
  if (frames > frameBudget || channelSamples > sampleBudget) {
    frameBudget = sampleBudget = 0;
    return;
  }
  frameBudget -= frames;
  sampleBudget -= channelSamples;

  // Exactly sized, so AddressSanitizer sees any access past the engine's buffers. The output
  // starts as NaN: a frame that reports a sample it did not write fails the finiteness check.
  const std::uint32_t outputFrames =
      inPlace ? std::max(frames, s.maxOutputFrames) : s.maxOutputFrames;
  // An empty block still comes in a real buffer, never a null pointer.
  std::vector<float> input(std::max<std::size_t>(
      1, inPlace ? static_cast<std::size_t>(outputFrames) * s.channels : channelSamples));
  std::vector<float> output(inPlace ? 0 : static_cast<std::size_t>(outputFrames) * s.channels,
                            std::numeric_limits<float>::quiet_NaN());
  generator.fill(in, input.data(), frames, s.channels);
  if (inPlace) {
    std::fill(input.begin() + static_cast<std::ptrdiff_t>(channelSamples), input.end(),
              std::numeric_limits<float>::quiet_NaN());
  }
  float* outputBuffer = inPlace ? input.data() : output.data();

  APO_CONNECTION_PROPERTY inConnection{reinterpret_cast<UINT_PTR>(input.data()), claimed, flags, 0};
  APO_CONNECTION_PROPERTY outConnection{reinterpret_cast<UINT_PTR>(outputBuffer), 0, BUFFER_INVALID,
                                        0};
  APO_CONNECTION_PROPERTY* ins[] = {&inConnection};
  APO_CONNECTION_PROPERTY* outs[] = {&outConnection};
  lifecycle.process(1, ins, 1, outs);

  require(outConnection.u32BufferFlags == BUFFER_VALID, "a well-formed block is processed");
  const std::uint32_t written = outConnection.u32ValidFrameCount;
  require(written <= frames && written <= outputFrames, "no more frames reported than given");
  // No tolerance: the limiter's last step clamps to this very float, and after it only the
  // mute gain (0 to 1) multiplies, which cannot raise a magnitude under round-to-nearest.
  const ParameterBlock& params = frame.chain().record();
  const bool limiting = params.limiterEnabled != 0 && params.bypass == 0;
  const float ceiling = dbToGain(params.limiterCeilingDb);
  for (std::size_t i = 0; i < static_cast<std::size_t>(written) * s.channels; ++i) {
    require(std::isfinite(outputBuffer[i]), "output sample finite");
    require(!limiting || std::fabs(outputBuffer[i]) <= ceiling, "output within the ceiling");
  }
  ParameterBlock resanitised = params;
  sanitise(resanitised);
  require(std::memcmp(&resanitised, &params, sizeof params) == 0,
          "the record in force is sanitised");
  checkChainMeters(frame.chain().meters());
  checkPublishedMeters(*frame.channel().activeBlock());
}

}  // namespace
}  // namespace vorlund::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vorlund;
  using namespace vorlund::fuzz;
  // One private data folder per process; each input starts without a shared.bin, so nothing
  // an earlier input wrote reaches this one.
  static const test::TempDataFolder dataFolder;
  std::filesystem::remove(dataFolder.file("shared.bin"));

  FuzzInput in(data, size);
  ParameterBlock record;
  in.read(&record, sizeof record);
  Stream stream = readStream(in);

  // The lifecycle holds the whole chain: on the heap, not on the fuzzer's stack.
  const auto lifecycle = std::make_unique<ProcessingLifecycle>();
  const BlockFrame& frame = lifecycle->frame();
  EngineStream locked(*lifecycle);
  lockStream(locked, stream);
  // The control application's side of the shared block.
  SharedBlock* block = frame.channel().activeBlock();
  publishRecord(*block, record);

  Generator generator;
  std::uint64_t frameBudget = kFrameBudget;
  std::uint64_t sampleBudget = kChannelSampleBudget;
  int relocks = kRelockBudget;
  while (!in.exhausted() && frameBudget > 0 && sampleBudget > 0) {
    switch (static_cast<Op>(in.byte() % static_cast<int>(Op::Count))) {
      case Op::Block0:
      case Op::Block1:
      case Op::Block2:
      case Op::Block3:
        runBlock(*lifecycle, stream, generator, in, frameBudget, sampleBudget);
        break;
      case Op::Record:
        in.read(&record, sizeof record);
        publishRecord(*block, record);
        break;
      case Op::Patch:
        for (int patches = 1 + in.byte() % 4; patches > 0; --patches) {
          const std::size_t word = in.byte() % (sizeof record / sizeof(std::uint32_t));
          in.read(reinterpret_cast<std::uint8_t*>(&record) + word * sizeof(std::uint32_t),
                  sizeof(std::uint32_t));
        }
        publishRecord(*block, record);
        break;
      case Op::Reset:
        lifecycle->requestReset();
        break;
      case Op::Relearn:
        sharedWord(block->relearnCounter).fetch_add(1);
        break;
      case Op::Relock:
        if (relocks-- > 0) {
          stream = readStream(in);
          lockStream(locked, stream);
        }
        break;
      case Op::Count:
        break;
    }
  }
  return 0;
}
