// The soak: the built library loaded from its file and driven through its exports, at full
// speed, for a length of audio given by VORLUND_SOAK_MINUTES (5 when unset; 60 is the long
// form). Objects come and go; each lives through Lock/Unlock cycles at changing rates and
// channel counts, with varied audio (speech-like, noise, silence, tones, clipping), a new
// record every few hundred milliseconds drawn by a seeded generator across every field,
// resets and relearn requests. Every block, every lock and every unlock is checked; the
// figures of the run are printed at the end.
#include <gtest/gtest.h>

#include <malloc.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chain/gain.h"
#include "com_test_objects.h"
#include "common/record_fields.h"
#include "engine/parameter_block.h"
#include "integration/component.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;

constexpr double kDefaultMinutes = 5.0;
// Peak memory is taken as settled after this much audio: by then the largest streams and the
// largest re-locks (kOpeningStreams) and every kind of record have run.
constexpr double kSettleSeconds = 60.0;
// Growth of the peak resident set allowed after that. Large buffers have pages of their own
// (kOwnPagesBytes); the smaller allocations share the heap, whose layout may shift by some
// pages from one lock to the next. One leaked chain per lock (0.3 MB at 48 kHz, 2.5 MB at
// 384 kHz) goes past it within a few locks; smaller leaks are LeakSanitizer's to find.
constexpr long kPeakGrowthKiB = 512;
constexpr int kOwnPagesBytes = 128 * 1024;
// Off under AddressSanitizer, whose quarantine holds freed memory and so raises the peak
// whatever the library does; LeakSanitizer checks for leaks there instead.
constexpr bool kCheckPeakMemory = VORLUND_SOAK_MEMORY_CHECK != 0;
// The ceiling is computed here by the same formula as in the library, but outside it: one
// unit in the last place allows for a differently rounded expf in its build, far below any
// real overshoot of the limiter.
constexpr float kCeilingTolerance = 1.0f + std::numeric_limits<float>::epsilon();
// The diagnostic log is moved to apo.old.log once it is larger than this.
constexpr std::uintmax_t kLogRotationBytes = 0x40000;
// A line is at most the stamp, a 511-character message and the line end.
constexpr std::uintmax_t kLongestLogLine = 640;

constexpr std::uint32_t kMaxChannels = 64;
constexpr float kMinRate = 8000.0f;
constexpr float kMaxRate = 384000.0f;
struct StreamShape {
  float rate;
  std::uint32_t channels;
};
// The first object's streams: the highest rate with the most channels, and re-locks from one
// high rate to another, during which the old buffers and the new ones are both held.
constexpr StreamShape kOpeningStreams[] = {
    {384000.0f, 64}, {352800.0f, 2}, {384000.0f, 64}, {8000.0f, 1}, {384000.0f, 1}};
constexpr float kCommonRates[] = {8000.0f,  11025.0f, 16000.0f, 22050.0f,  32000.0f,
                                  44100.0f, 88200.0f, 96000.0f, 176400.0f, 384000.0f};

// Seeded and portable: the same run on every machine.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double low, double high) { return low + (high - low) * uniform(); }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
  bool chance(double p) { return uniform() < p; }

 private:
  std::uint64_t state_;
};

// Varied audio as a stream of segments of a fraction of a second to a few seconds, each of
// one kind; phases run on across blocks so that tones stay continuous.
class AudioSource {
 public:
  enum class Kind { Speech, Noise, Silence, Tone, Clipping, Count };

  explicit AudioSource(Random& random) : random_(random) {}

  void fill(float* mono, std::uint32_t frames, double rate) {
    for (std::uint32_t k = 0; k < frames; ++k) {
      if (remaining_ == 0) startSegment(rate);
      --remaining_;
      mono[k] = next(rate);
    }
  }

 private:
  void startSegment(double rate) {
    kind_ = static_cast<Kind>(random_.below(static_cast<std::uint32_t>(Kind::Count)));
    remaining_ = static_cast<std::uint64_t>(rate * random_.uniform(0.1, 3.0));
    level_ = std::pow(10.0, random_.uniform(-60.0, -6.0) / 20.0);
    pitch_ = random_.uniform(80.0, 260.0);
    toneHz_ = std::exp(random_.uniform(std::log(20.0), std::log(0.45 * rate)));
    syllableHz_ = random_.uniform(2.5, 7.0);
  }

  float noise() { return static_cast<float>(random_.uniform(-1.0, 1.0)); }

  // A buzzy harmonic voice whose level moves like syllables, with hiss between them.
  double speech(double rate) {
    voicePhase_ = std::fmod(voicePhase_ + pitch_ / rate, 1.0);
    envelopePhase_ = std::fmod(envelopePhase_ + syllableHz_ / rate, 1.0);
    const double envelope = std::max(0.0, std::sin(2.0 * std::numbers::pi * envelopePhase_));
    double voiced = 0.0;
    for (int h = 1; h <= 8; ++h) voiced += std::sin(2.0 * std::numbers::pi * h * voicePhase_) / h;
    const double hiss = envelope < 0.2 ? 0.3 * noise() : 0.0;
    return level_ * (envelope * voiced + hiss) + 0.001 * noise();
  }

  float next(double rate) {
    switch (kind_) {
      case Kind::Speech:
        return static_cast<float>(speech(rate));
      case Kind::Noise:
        return static_cast<float>(level_) * noise();
      case Kind::Silence:
        return 0.0f;
      case Kind::Tone:
        tonePhase_ = std::fmod(tonePhase_ + toneHz_ / rate, 1.0);
        return static_cast<float>(level_ * 10.0 * std::sin(2.0 * std::numbers::pi * tonePhase_));
      case Kind::Clipping:
      case Kind::Count:
        break;
    }
    // Speech driven 20 to 60 dB into a converter that clips at full scale.
    return static_cast<float>(std::clamp(speech(rate) * 1000.0, -1.0, 1.0));
  }

  Random& random_;
  Kind kind_ = Kind::Silence;
  std::uint64_t remaining_ = 0;
  double level_ = 0.0, pitch_ = 100.0, toneHz_ = 1000.0, syllableHz_ = 4.0;
  double voicePhase_ = 0.0, envelopePhase_ = 0.0, tonePhase_ = 0.0;
};

// A value for one field: mostly ordinary, sometimes out of range, rarely not a number.
std::uint32_t randomFieldBits(Random& random, FieldKind kind) {
  if (kind == FieldKind::Flag || kind == FieldKind::Int) {
    std::int32_t value =
        random.chance(0.9)
            ? static_cast<std::int32_t>(random.below(kind == FieldKind::Flag ? 2 : 12))
            : static_cast<std::int32_t>(random.next());
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  }
  float value;
  const double choice = random.uniform();
  if (choice < 0.45) {
    value = static_cast<float>(random.uniform(-90.0, 30.0));  // levels and gains in dB
  } else if (choice < 0.9) {
    value = static_cast<float>(std::exp(random.uniform(std::log(0.01), std::log(30000.0))));
  } else {
    constexpr float kSpecials[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   1e30f,
                                   -1e30f,
                                   std::numeric_limits<float>::denorm_min(),
                                   -0.0f};
    value = kSpecials[random.below(std::size(kSpecials))];
  }
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The next record of the control application: the factory record now and then, a wholly
// random one sometimes, most often the previous one with a few fields changed.
void nextRecord(Random& random, ParameterBlock& record) {
  const auto fields = recordFields();
  const double choice = random.uniform();
  if (choice < 0.1) {
    setDefaults(record);
  } else if (choice < 0.3) {
    for (const RecordField& field : fields)
      setFieldBits(record, field, randomFieldBits(random, field.kind));
  } else {
    for (std::uint32_t n = 1 + random.below(6); n > 0; --n) {
      const RecordField& field = fields[random.below(static_cast<std::uint32_t>(fields.size()))];
      setFieldBits(record, field, randomFieldBits(random, field.kind));
    }
  }
}

long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// The last line of the log, without its line end.
std::string lastLogLine(const fs::path& log) {
  const std::uintmax_t size = fs::file_size(log);
  const std::string text =
      test::readBytes(log, size > kLongestLogLine ? size - kLongestLogLine : 0);
  if (text.size() < 2) return {};
  const std::size_t start = text.rfind('\n', text.size() - 2);
  const std::size_t first = start == std::string::npos ? 0 : start + 1;
  return text.substr(first, text.size() - 2 - first);
}

// Whether `text` is `pattern`, in which '#' stands for one or more decimal digits, '9' for
// one digit, '!' for 0 or 1, '%' for one lower-case hexadecimal digit and '~' for an optional
// minus sign; every other character stands for itself.
bool matchesPattern(std::string_view text, std::string_view pattern) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t t = 0;
  for (const char p : pattern) {
    const bool more = t < text.size();
    switch (p) {
      case '#': {
        const std::size_t start = t;
        while (t < text.size() && digit(text[t])) ++t;
        if (t == start) return false;
        break;
      }
      case '9':
        if (!more || !digit(text[t++])) return false;
        break;
      case '!':
        if (!more || (text[t] != '0' && text[t] != '1')) return false;
        ++t;
        break;
      case '%':
        if (!more || !(digit(text[t]) || (text[t] >= 'a' && text[t] <= 'f'))) return false;
        ++t;
        break;
      case '~':
        if (more && text[t] == '-') ++t;
        break;
      default:
        if (!more || text[t++] != p) return false;
    }
  }
  return t == text.size();
}

// Lines that are not one of the system's four messages, stamped and ended as it writes them.
int malformedLogLines(const std::string& text) {
  constexpr std::string_view kStamp = "9999-99-99 99:99:99 [#] ";
  constexpr std::string_view kMessages[] = {
      "LockForProcess: # Hz, # ch, max # frames, shared=!, bypass=!, ns=!\r",
      "UnlockForProcess: # blocks, peak in ~#.9 dB, out ~#.9 dB\r",
      "IsInputFormatSupported: # ch, # bytes/sample, ~# Hz, float=! -> 0x%%%%%%%%\r",
      "IsOutputFormatSupported: # ch, # bytes/sample, ~# Hz, float=! -> 0x%%%%%%%%\r",
      "shared file unavailable (error #), falling back to params.bin watching\r",
  };
  int malformed = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return malformed + 1;  // a line without its end
    const std::string_view line(text.data() + start, end - start);
    const std::size_t stampEnd = line.find("] ");
    const bool wellFormed =
        stampEnd != std::string_view::npos &&
        matchesPattern(line.substr(0, stampEnd + 2), kStamp) &&
        std::any_of(std::begin(kMessages), std::end(kMessages), [&](std::string_view message) {
          return matchesPattern(line.substr(stampEnd + 2), message);
        });
    if (!wellFormed) ++malformed;
    start = end + 1;
  }
  return malformed;
}

struct Figures {
  double audioSeconds = 0.0;
  std::uint64_t blocks = 0;
  int recordChanges = 0;
  int locks = 0;
  int objects = 0;
  int resets = 0;
  int relearns = 0;
  int rotations = 0;
  int malformedLines = 0;
  std::uint64_t nonFinite = 0;
  std::uint64_t aboveCeiling = 0;
  std::uint64_t unequalChannels = 0;
  std::uint64_t unprocessedBlocks = 0;
  int counterMismatches = 0;
  int negotiationMismatches = 0;
  int logMismatches = 0;
  long peakKiBAfterSettling = -1;
  long peakKiBAtEnd = -1;
};

class Soak {
 public:
  Soak(double audioSeconds, const test::TempDataFolder& folder)
      : targetSeconds_(audioSeconds),
        log_(folder.file("apo.log")),
        oldLog_(folder.file("apo.old.log")) {
    // The host's blocks are sized once for the largest stream, so that they do not count as
    // growth: 10 ms at the highest rate with the most channels.
    samples_.resize(static_cast<std::size_t>(maxBlockFrames(kMaxRate)) * kMaxChannels);
    mono_.resize(maxBlockFrames(kMaxRate));
    setDefaults(record_);
    sanitisedRecord_ = record_;
  }

  Figures run() {
    // The earlier session's log is read as the rotated one will be, within the first minute.
    checkLogLines(log_);
    runObject(kOpeningStreams);
    while (figures_.audioSeconds < targetSeconds_) runObject({});
    checkLogLines(log_);
    figures_.peakKiBAtEnd = peakResidentKiB();
    return figures_;
  }

 private:
  static std::uint32_t maxBlockFrames(float rate) {
    return static_cast<std::uint32_t>(std::ceil(rate / 100.0f));
  }

  // One object from the factory: a few Lock/Unlock cycles, then released, sometimes locked.
  void runObject(std::span<const StreamShape> opening) {
    void* created = nullptr;
    ASSERT_EQ(S_OK, factory_->CreateInstance(nullptr, IID_IAudioProcessingObject, &created));
    ++figures_.objects;
    auto* apo = static_cast<IAudioProcessingObject*>(created);
    auto* rt = test::query<IAudioProcessingObjectRT>(apo, IID_IAudioProcessingObjectRT);
    auto* config = test::query<IAudioProcessingObjectConfiguration>(
        apo, IID_IAudioProcessingObjectConfiguration);
    const int cycles =
        opening.empty() ? 1 + static_cast<int>(random_.below(8)) : static_cast<int>(opening.size());
    bool locked = false;
    for (int c = 0; c < cycles && figures_.audioSeconds < targetSeconds_; ++c) {
      const bool given = !opening.empty();
      const float rate = given ? opening[static_cast<std::size_t>(c)].rate : drawRate();
      const std::uint32_t channels =
          given ? opening[static_cast<std::size_t>(c)].channels : drawChannels();
      locked = runStream(*apo, *rt, *config, rate, channels, c + 1 < cycles || random_.chance(0.7));
    }
    rt->Release();
    config->Release();
    EXPECT_EQ(0u, apo->Release());
    if (locked) {
      // Released while locked: the object ends the stream itself.
      checkStreamEnd(lastBlocks_);
    }
  }

  float drawRate() {
    const double choice = random_.uniform();
    if (choice < 0.6) return 48000.0f;
    if (choice < 0.85) return kCommonRates[random_.below(std::size(kCommonRates))];
    return static_cast<float>(random_.uniform(kMinRate, kMaxRate));
  }
  std::uint32_t drawChannels() {
    return random_.chance(0.5) ? 1 + random_.below(2) : 1 + random_.below(kMaxChannels);
  }

  // The engine's format questions before a lock: the stream's own format is accepted, an
  // integer version gets a float suggestion, and a rate out of range is refused (and logged).
  void negotiate(IAudioProcessingObject& apo, const UNCOMPRESSEDAUDIOFORMAT& format) {
    test::CountedMediaType offered(format);
    IAudioMediaType* answer = nullptr;
    if (apo.IsInputFormatSupported(nullptr, &offered, &answer) != S_OK || answer != &offered)
      ++figures_.negotiationMismatches;
    if (answer != nullptr) answer->Release();
    if (random_.chance(0.3)) {
      test::CountedMediaType pcm(
          test::pcm16Format(format.dwSamplesPerFrame, format.fFramesPerSecond));
      answer = nullptr;
      if (apo.IsOutputFormatSupported(&offered, &pcm, &answer) != S_FALSE)
        ++figures_.negotiationMismatches;
      if (answer != nullptr) answer->Release();
    }
    if (random_.chance(0.2)) {
      test::CountedMediaType tooSlow(test::floatFormat(format.dwSamplesPerFrame, 4000.0f));
      answer = nullptr;
      if (apo.IsInputFormatSupported(nullptr, &tooSlow, &answer) != APOERR_FORMAT_NOT_SUPPORTED)
        ++figures_.negotiationMismatches;
    }
  }

  // One Lock, blocks for a second or so of audio, and (when `unlock`) the Unlock. Returns
  // whether the stream is still locked.
  bool runStream(IAudioProcessingObject& apo, IAudioProcessingObjectRT& rt,
                 IAudioProcessingObjectConfiguration& config, float rate, std::uint32_t channels,
                 bool unlock) {
    const UNCOMPRESSEDAUDIOFORMAT format = test::floatFormat(channels, rate);
    negotiate(apo, format);
    const std::uint32_t maxFrames = maxBlockFrames(rate);
    test::HostStream stream(format, maxFrames, maxFrames);
    const HRESULT locked = stream.lock(config);
    EXPECT_EQ(S_OK, locked);
    if (locked != S_OK) return false;
    ++figures_.locks;
    if (!control_) control_ = std::make_unique<test::ControlSide>();
    SharedBlock& block = control_->block();
    // The lock applies the record the block holds: the last one published.
    sanitisedRecord_ = record_;
    sanitise(sanitisedRecord_);
    checkLock(block, rate, channels, maxFrames);

    const std::uint64_t blocksBefore = control_->read(block.processedBlocks);
    const double seconds = random_.uniform(0.3, 4.0);
    const auto frames = static_cast<std::uint64_t>(seconds * rate);
    std::uint64_t done = 0;
    std::uint64_t blocks = 0;
    while (done < frames) {
      maybeChangeSomething(apo, block);
      // The engine's blocks are 10 ms, now and then shorter.
      std::uint32_t count = random_.chance(0.9) ? maxFrames : 1 + random_.below(maxFrames);
      count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, frames - done));
      processBlock(stream, rt, rate, count, channels);
      done += count;
      ++blocks;
      advance(count / static_cast<double>(rate));
    }
    if (control_->read(block.processedBlocks) - blocksBefore != blocks)
      ++figures_.counterMismatches;
    lastBlocks_ = blocks;
    if (!unlock) return true;
    EXPECT_EQ(S_OK, config.UnlockForProcess());
    checkStreamEnd(blocks);
    return false;
  }

  // The audio clock of the run: peak memory is sampled once the first minute has passed.
  void advance(double seconds) {
    const bool settling = figures_.audioSeconds < kSettleSeconds;
    figures_.audioSeconds += seconds;
    sinceChange_ += seconds;
    if (settling && figures_.audioSeconds >= kSettleSeconds)
      figures_.peakKiBAfterSettling = peakResidentKiB();
  }

  void maybeChangeSomething(IAudioProcessingObject& apo, SharedBlock& block) {
    if (sinceChange_ >= nextChange_) {
      sinceChange_ = 0.0;
      nextChange_ = random_.uniform(0.1, 0.6);
      nextRecord(random_, record_);
      publishRecord(block, record_);
      sanitisedRecord_ = record_;
      sanitise(sanitisedRecord_);
      ++figures_.recordChanges;
      // Now and then the engine resets, or the control application asks for a new learning.
      if (random_.chance(0.05)) {
        EXPECT_EQ(S_OK, apo.Reset());
        ++figures_.resets;
      }
      if (random_.chance(0.05)) {
        sharedWord(block.relearnCounter).fetch_add(1);
        ++figures_.relearns;
      }
    }
  }

  void processBlock(test::HostStream& stream, IAudioProcessingObjectRT& rt, float rate,
                    std::uint32_t count, std::uint32_t channels) {
    audio_.fill(mono_.data(), count, rate);
    float* samples = samples_.data();
    for (std::uint32_t k = 0; k < count; ++k)
      std::fill_n(samples + static_cast<std::size_t>(k) * channels, channels, mono_[k]);
    const APO_CONNECTION_PROPERTY out = stream.process(rt, samples, count);
    ++figures_.blocks;
    if (out.u32BufferFlags != BUFFER_VALID || out.u32ValidFrameCount != count)
      ++figures_.unprocessedBlocks;

    const ParameterBlock& params = sanitisedRecord_;
    const bool limiting = params.limiterEnabled != 0 && params.bypass == 0;
    const float ceiling = dbToGain(params.limiterCeilingDb) * kCeilingTolerance;
    for (std::uint32_t k = 0; k < count; ++k) {
      const float* frame = samples + static_cast<std::size_t>(k) * channels;
      for (std::uint32_t c = 0; c < channels; ++c) {
        if (!std::isfinite(frame[c])) ++figures_.nonFinite;
        if (limiting && std::fabs(frame[c]) > ceiling) ++figures_.aboveCeiling;
        if (frame[c] != frame[0]) ++figures_.unequalChannels;
      }
    }
  }

  // The stream status in the shared block and the log line of the lock.
  void checkLock(SharedBlock& block, float rate, std::uint32_t channels, std::uint32_t maxFrames) {
    if (control_->read(block.activeStreams) != 1 ||
        control_->read(block.streamSampleRate) != static_cast<std::int32_t>(rate) ||
        control_->read(block.streamChannels) != channels)
      ++figures_.counterMismatches;
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "LockForProcess: %.0f Hz, %u ch, max %u frames, shared=1, bypass=%d, ns=%d",
                  static_cast<double>(rate), channels, maxFrames,
                  sanitisedRecord_.bypass != 0 ? 1 : 0, sanitisedRecord_.nsEnabled != 0 ? 1 : 0);
    checkLastLine(expected);
  }

  // No stream left in the shared block, and the block count of the period in the log.
  void checkStreamEnd(std::uint64_t blocks) {
    if (control_->read(control_->block().activeStreams) != 0) ++figures_.counterMismatches;
    char expected[80];
    std::snprintf(expected, sizeof expected, "UnlockForProcess: %llu blocks, peak in ",
                  static_cast<unsigned long long>(blocks));
    checkLastLine(expected);
  }

  // The newest line ends in `message` (a prefix of it for the Unlock line); a log smaller
  // than before has been rotated, and the rotated file is checked line by line now, before
  // the next rotation replaces it.
  void checkLastLine(const char* message) {
    const std::string line = lastLogLine(log_);
    const std::size_t at = line.find("] ");
    if (at == std::string::npos || line.compare(at + 2, std::strlen(message), message) != 0) {
      ++figures_.logMismatches;
      ADD_FAILURE() << "log line \"" << line << "\", expected \"" << message << "\"";
    }
    const std::uintmax_t size = fs::file_size(log_);
    if (size < logSize_) {
      ++figures_.rotations;
      const std::uintmax_t rotated = fs::file_size(oldLog_);
      EXPECT_GT(rotated, kLogRotationBytes);
      EXPECT_LE(rotated, kLogRotationBytes + kLongestLogLine);
      checkLogLines(oldLog_);
    }
    logSize_ = size;
  }

  void checkLogLines(const fs::path& path) {
    figures_.malformedLines += malformedLogLines(test::readBytes(path));
  }

  double targetSeconds_;
  fs::path log_;
  fs::path oldLog_;
  test::Component component_;
  IClassFactory* factory_ = component_.factory();
  std::unique_ptr<test::ControlSide> control_;
  Random random_{0x5EED5EEDu};
  AudioSource audio_{random_};
  ParameterBlock record_;
  ParameterBlock sanitisedRecord_;
  std::vector<float> samples_;
  std::vector<float> mono_;
  double sinceChange_ = 0.0;
  double nextChange_ = 0.3;
  std::uintmax_t logSize_ = 0;
  std::uint64_t lastBlocks_ = 0;
  Figures figures_;
};

double soakMinutes() {
  const char* text = std::getenv("VORLUND_SOAK_MINUTES");
  const double minutes = text != nullptr ? std::strtod(text, nullptr) : kDefaultMinutes;
  return minutes > 0.0 ? minutes : kDefaultMinutes;
}

// Verifies that, through hours of varied audio, records, resets, relearns and Lock/Unlock
// cycles at every rate and channel count, every output sample is finite and equal on all
// channels, the limiter's ceiling holds whenever the record in force has it on, every block is
// processed and counted in the shared block, each lock and unlock writes its line with the
// right stream and block count, the log stays well formed and is rotated, and the peak
// resident memory stays flat after the first minute.
TEST(SoakTest, VariedAudioRecordsAndLocksThroughTheExports) {
  // Buffers of 128 KiB and more get pages of their own, returned when freed, so that peak
  // memory follows what is live rather than how glibc's moving threshold laid out the heap.
  mallopt(M_MMAP_THRESHOLD, kOwnPagesBytes);
  test::TempDataFolder folder;
  // An earlier session's log, a little short of the rotation size: the run must rotate it.
  {
    std::ofstream earlier(folder.file("apo.log"), std::ios::binary);
    const std::string line =
        "2026-01-02 03:04:05 [4242] UnlockForProcess: 100 blocks, peak in -6.0 dB, out -6.0 dB\r\n";
    for (std::uintmax_t written = 0; written + line.size() < kLogRotationBytes - 4096;
         written += line.size())
      earlier << line;
  }
  const double minutes = soakMinutes();
  const auto start = std::chrono::steady_clock::now();
  Soak soak(minutes * 60.0, folder);
  const Figures f = soak.run();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf(
      "soak: %.1f s of audio in %.1f s wall, %llu blocks, %d record changes, %d locks, %d "
      "objects, %d resets, %d relearns, %d log rotations, peak RSS %ld KiB after %.0f s of "
      "audio and %ld KiB at the end\n",
      f.audioSeconds, wall, static_cast<unsigned long long>(f.blocks), f.recordChanges, f.locks,
      f.objects, f.resets, f.relearns, f.rotations, f.peakKiBAfterSettling, kSettleSeconds,
      f.peakKiBAtEnd);
  EXPECT_GE(f.audioSeconds, minutes * 60.0);
  EXPECT_EQ(0u, f.nonFinite);
  EXPECT_EQ(0u, f.aboveCeiling);
  EXPECT_EQ(0u, f.unequalChannels);
  EXPECT_EQ(0u, f.unprocessedBlocks);
  EXPECT_EQ(0, f.counterMismatches);
  EXPECT_EQ(0, f.negotiationMismatches);
  EXPECT_EQ(0, f.logMismatches);
  EXPECT_EQ(0, f.malformedLines);
  EXPECT_GE(f.rotations, 1);
  if (kCheckPeakMemory) {
    ASSERT_GT(f.peakKiBAfterSettling, 0);
    EXPECT_LE(f.peakKiBAtEnd, f.peakKiBAfterSettling + kPeakGrowthKiB);
  }
}

}  // namespace
}  // namespace vorlund
