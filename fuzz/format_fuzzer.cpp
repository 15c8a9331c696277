// Fuzz target for format negotiation and LockForProcess: any UNCOMPRESSEDAUDIOFORMAT contents
// (any GUID, container, depth, 0 to 2^32-1 channels, NaN, infinite, negative or huge rates,
// any channel mask), offered to an object made by the class factory as the audio engine
// offers them: IsInputFormatSupported and IsOutputFormatSupported with or without an opposite
// format, null pointers and formats that cannot describe themselves, then LockForProcess on
// whatever the engine chose, with malformed connection lists among the calls, Unlock in
// between and a short block after each successful lock. It requires: no crash or sanitizer
// report; every result one of the documented HRESULTs; an accepted format is the float32
// version of the opposite (or requested) format in range, and the object handed back holds
// exactly one new reference; a suggestion is itself accepted when offered back; a refusal
// hands back nothing; a lock succeeds only on a float32 stream with channels and a rate in
// range, and always on a format the negotiation accepted; the first block after it is finite.
//
// Input layout (FuzzInput: zeros once the bytes run out): one tag byte per operation (Op),
// then its own fields; a format is a mode byte and 36 bytes of UNCOMPRESSEDAUDIOFORMAT.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "apo/class_factory.h"
#include "apo/format_negotiation.h"
#include "apo/mic_apo.h"
#include "apo/registration.h"
#include "com_test_objects.h"
#include "engine/stream_format.h"
#include "fuzz_input.h"
#include "temp_data_folder.h"

namespace vorlund::fuzz {
namespace {

constexpr int kOperationBudget = 12;
// Frames of the one block run after a successful lock; the buffer is frames × channels.
constexpr std::uint32_t kBlockFrames = 32;
// Largest maximum frame count drawn for a lock: a 10 ms block at the highest rate is 3840.
constexpr std::uint32_t kMaxLockFrames = 8192;

enum class Op : std::uint8_t { InputQuestion, OutputQuestion, Lock, NegotiatedLock, Unlock, Count };

// Rates that sit on, next to or far beyond the accepted limits, or are no number at all.
constexpr float kSpecialRates[] = {
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::max(),
    std::numeric_limits<float>::denorm_min(),
    0.0f,
    -0.0f,
    -48000.0f,
    7999.999f,
    kMinFrameRate,
    44100.0f,
    44100.5f,
    48000.0f,
    kMaxFrameRate,
    384000.03f,
    4294967296.0f,
};
constexpr std::uint32_t kSpecialChannels[] = {
    0, 1, 2, 6, kMaxChannelCount, kMaxChannelCount + 1, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
// What a failing GetUncompressedAudioFormat of the engine's media type may answer.
constexpr HRESULT kFormatFailures[] = {E_FAIL, E_NOTIMPL, E_POINTER, APOERR_FORMAT_NOT_SUPPORTED};

template <typename T, std::size_t N>
T pick(const T (&table)[N], std::uint8_t index) {
  return table[index % N];
}

bool isFloat32Container(const UNCOMPRESSEDAUDIOFORMAT& f) {
  return isFloat32(f) && f.dwValidBitsPerSample == 32;
}

bool inRange(const UNCOMPRESSEDAUDIOFORMAT& f) {
  return f.dwSamplesPerFrame >= 1 && f.dwSamplesPerFrame <= kMaxChannelCount &&
         isSupportedFrameRate(f.fFramesPerSecond);
}

bool sameStream(const UNCOMPRESSEDAUDIOFORMAT& a, const UNCOMPRESSEDAUDIOFORMAT& b) {
  return a.dwSamplesPerFrame == b.dwSamplesPerFrame && a.fFramesPerSecond == b.fFramesPerSecond;
}

// Raw bytes, then, as the mode byte says, the float32 sample type, a special rate or a
// special channel count laid over them, so that the interesting formats are near at hand.
struct OfferedFormat {
  UNCOMPRESSEDAUDIOFORMAT format;
  HRESULT result;  // what GetUncompressedAudioFormat answers
  bool present;    // false: a null pointer is passed
};

OfferedFormat readFormat(FuzzInput& in) {
  const std::uint8_t mode = in.byte();
  OfferedFormat offered{};
  in.read(&offered.format, sizeof offered.format);
  UNCOMPRESSEDAUDIOFORMAT& f = offered.format;
  if ((mode & 1) != 0) {
    f.guidFormatType = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    f.dwBytesPerSampleContainer = 4;
    f.dwValidBitsPerSample = 32;
  }
  if ((mode & 2) != 0) f.fFramesPerSecond = pick(kSpecialRates, in.byte());
  if ((mode & 4) != 0) f.dwSamplesPerFrame = pick(kSpecialChannels, in.byte());
  offered.result = (mode & 0x30) == 0x30 ? pick(kFormatFailures, mode >> 6) : S_OK;
  offered.present = (mode & 0x38) != 0x08;
  return offered;
}

bool isNegotiationResult(HRESULT hr) {
  return hr == S_OK || hr == S_FALSE || hr == E_POINTER || hr == APOERR_FORMAT_NOT_SUPPORTED ||
         hr == E_OUTOFMEMORY;
}

// One question of the engine, with every property of the answer checked. Returns the format
// the engine would go on with: the requested one when accepted, the suggestion when one was
// made (offered back once more, where it must be accepted), else nothing.
bool askFormat(IAudioProcessingObject& apo, bool input, const OfferedFormat& opposite,
               const OfferedFormat& requested, bool nullOut, UNCOMPRESSEDAUDIOFORMAT& chosen) {
  test::CountedMediaType oppositeType(opposite.format, opposite.result);
  test::CountedMediaType requestedType(requested.format, requested.result);
  IAudioMediaType* oppositePointer = opposite.present ? &oppositeType : nullptr;
  IAudioMediaType* requestedPointer = requested.present ? &requestedType : nullptr;
  // Anything but null or the object handed back is a stale value the call must overwrite.
  IAudioMediaType* answer = reinterpret_cast<IAudioMediaType*>(std::uintptr_t{0x10});
  auto ask = [&](IAudioMediaType* offered) {
    return input
               ? apo.IsInputFormatSupported(oppositePointer, offered, nullOut ? nullptr : &answer)
               : apo.IsOutputFormatSupported(oppositePointer, offered, nullOut ? nullptr : &answer);
  };
  const HRESULT hr = ask(requestedPointer);
  require(isNegotiationResult(hr), "negotiation answers a documented result");
  require(oppositeType.extraReferences() == 0, "the opposite format is not kept");
  if (requestedPointer == nullptr || nullOut) {
    require(hr == E_POINTER, "a null argument is E_POINTER");
    return false;
  }
  require(hr != E_POINTER, "E_POINTER only for a null argument");
  if (FAILED(hr)) {
    require(answer == nullptr, "a refusal hands back nothing");
    require(requestedType.extraReferences() == 0, "a refusal keeps no reference");
    return false;
  }

  // What the answer must be the float32 version of: the opposite side when it describes itself.
  const bool oppositeDecides = opposite.present && SUCCEEDED(opposite.result);
  const UNCOMPRESSEDAUDIOFORMAT& basis = oppositeDecides ? opposite.format : requested.format;
  require(SUCCEEDED(requested.result), "a format that cannot describe itself is refused");
  require(inRange(basis), "only channels and rates in range are answered");
  if (hr == S_OK) {
    require(answer == &requestedType && requestedType.extraReferences() == 1,
            "an accepted format comes back with one reference added");
    require(isFloat32Container(requested.format) && sameStream(requested.format, basis),
            "only the float32 version of the deciding format is accepted");
    requestedType.Release();
    chosen = requested.format;
    return true;
  }

  require(answer != nullptr && answer != &requestedType, "a suggestion is a new object");
  require(requestedType.extraReferences() == 0, "a suggestion keeps no reference to the request");
  UNCOMPRESSEDAUDIOFORMAT suggested{};
  require(answer->GetUncompressedAudioFormat(&suggested) == S_OK, "a suggestion describes itself");
  require(isFloat32Container(suggested) && sameStream(suggested, basis) &&
              suggested.dwChannelMask == basis.dwChannelMask,
          "the suggestion is the float32 version of the deciding format");
  const WAVEFORMATEX* wave = answer->GetAudioFormat();
  require(wave != nullptr && wave->nChannels == static_cast<WORD>(suggested.dwSamplesPerFrame) &&
              wave->nBlockAlign == static_cast<WORD>(4 * suggested.dwSamplesPerFrame) &&
              wave->wBitsPerSample == 32 &&
              wave->nSamplesPerSec == static_cast<DWORD>(suggested.fFramesPerSecond),
          "the suggestion's wave format matches it");
  IAudioMediaType* again = nullptr;
  const HRESULT hrAgain = input ? apo.IsInputFormatSupported(oppositePointer, answer, &again)
                                : apo.IsOutputFormatSupported(oppositePointer, answer, &again);
  require(hrAgain == S_OK && again == answer, "a suggestion offered back is accepted");
  again->Release();
  require(answer->Release() == 0, "the caller holds the suggestion's only reference");
  chosen = suggested;
  return true;
}

bool isLockResult(HRESULT hr, HRESULT formatResult) {
  return hr == S_OK || hr == E_INVALIDARG || hr == APOERR_APO_LOCKED ||
         hr == APOERR_FORMAT_NOT_SUPPORTED || hr == E_OUTOFMEMORY || hr == formatResult;
}

// One block of finite samples through the locked object: the output must stay finite.
void runBlock(test::HostStream& stream, IAudioProcessingObjectRT& rt, std::uint32_t channels,
              FuzzInput& in) {
  std::vector<float> samples(static_cast<std::size_t>(kBlockFrames) * channels);
  for (float& s : samples) s = static_cast<float>(in.value<std::int8_t>()) / 128.0f;
  const APO_CONNECTION_PROPERTY out = stream.process(rt, samples.data(), kBlockFrames);
  require(out.u32BufferFlags == BUFFER_VALID && out.u32ValidFrameCount == kBlockFrames,
          "a locked object processes a block");
  for (float s : samples) require(std::isfinite(s), "output sample finite");
}

// The engine's LockForProcess call, well formed or not, on `format` for the input side.
struct LockCall {
  UNCOMPRESSEDAUDIOFORMAT format;
  HRESULT formatResult;
  std::uint8_t shape;  // which of the connection arguments is malformed, if any
  std::uint32_t maxInputFrames;
  std::uint32_t maxOutputFrames;
};

LockCall readLockShape(FuzzInput& in, const UNCOMPRESSEDAUDIOFORMAT& format, HRESULT result) {
  return {format, result, in.byte(), in.inRange(0, kMaxLockFrames), in.inRange(0, kMaxLockFrames)};
}

class Engine {
 public:
  Engine() {
    void* factory = nullptr;
    require(getClassObject(CLSID_VorlundApo, IID_IClassFactory, &factory) == S_OK,
            "the class factory is available");
    void* object = nullptr;
    require(static_cast<IClassFactory*>(factory)->CreateInstance(
                nullptr, IID_IAudioProcessingObject, &object) == S_OK,
            "the factory builds an object");
    static_cast<IClassFactory*>(factory)->Release();
    apo_ = static_cast<IAudioProcessingObject*>(object);
    apo_->QueryInterface(IID_IAudioProcessingObjectConfiguration,
                         reinterpret_cast<void**>(&configuration_));
    apo_->QueryInterface(IID_IAudioProcessingObjectRT, reinterpret_cast<void**>(&rt_));
    require(configuration_ != nullptr && rt_ != nullptr, "the object has its interfaces");
  }
  ~Engine() {
    configuration_->Release();
    rt_->Release();
    require(apo_->Release() == 0, "the engine held the last reference");
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  IAudioProcessingObject& apo() { return *apo_; }

  void lock(const LockCall& call, bool negotiated, FuzzInput& in) {
    test::HostStream stream(call.format, call.maxInputFrames, call.maxOutputFrames,
                            call.formatResult);
    APO_CONNECTION_DESCRIPTOR* ins[] = {&stream.input, &stream.input};
    APO_CONNECTION_DESCRIPTOR* outs[] = {&stream.output, &stream.output};
    UINT32 inputCount = 1;
    UINT32 outputCount = 1;
    APO_CONNECTION_DESCRIPTOR** inputList = ins;
    APO_CONNECTION_DESCRIPTOR** outputList = outs;
    const std::uint8_t fault = call.shape % 16;
    switch (fault) {
      case 1:
        inputCount = 0;
        break;
      case 2:
        inputCount = outputCount = 2;
        break;
      case 3:
        outputCount = 0;
        break;
      case 4:
        inputList = nullptr;
        break;
      case 5:
        outputList = nullptr;
        break;
      case 6:
        ins[0] = nullptr;
        break;
      case 7:
        outs[0] = nullptr;
        break;
      case 8:
        stream.input.pFormat = nullptr;
        break;
      default:
        break;  // well formed
    }
    const bool wellFormed = fault == 0 || fault > 8;
    const bool wasLocked = locked_;
    UINT32 channelsBefore = 0;
    apo_->GetInputChannelCount(&channelsBefore);

    const HRESULT hr =
        configuration_->LockForProcess(inputCount, inputList, outputCount, outputList);
    require(isLockResult(hr, call.formatResult), "LockForProcess answers a documented result");
    require(stream.type.extraReferences() == 0, "the locked format is not kept");
    if (wasLocked) {
      require(hr == APOERR_APO_LOCKED, "a locked object refuses a second lock");
      return;
    }
    require(hr != APOERR_APO_LOCKED, "only a locked object answers APOERR_APO_LOCKED");
    require(wellFormed || hr == E_INVALIDARG, "malformed connections are E_INVALIDARG");
    if (wellFormed && FAILED(call.formatResult))
      require(hr == call.formatResult, "the format query's failure is returned unchanged");
    if (hr != S_OK) {
      UINT32 channelsAfter = 0;
      apo_->GetInputChannelCount(&channelsAfter);
      require(hr == E_OUTOFMEMORY || channelsAfter == channelsBefore,
              "a refused lock leaves the channel count");
      // What negotiation accepted, the engine may lock with any frame counts.
      require(!negotiated || !wellFormed, "a negotiated format locks");
      return;
    }
    require(wellFormed && SUCCEEDED(call.formatResult) && isFloat32(call.format) &&
                call.format.dwSamplesPerFrame >= 1 &&
                isSupportedFrameRate(call.format.fFramesPerSecond),
            "a lock succeeds only on a float32 stream at a rate in range");
    UINT32 channels = 0;
    apo_->GetInputChannelCount(&channels);
    require(channels == call.format.dwSamplesPerFrame, "the locked channel count is reported");
    locked_ = true;
    // A block needs frames × channels samples from the engine; beyond what negotiation
    // accepts, no engine has such buffers.
    if (channels <= kMaxChannelCount && call.maxInputFrames >= kBlockFrames &&
        call.maxOutputFrames >= kBlockFrames)
      runBlock(stream, *rt_, channels, in);
  }

  void unlock() {
    const HRESULT hr = configuration_->UnlockForProcess();
    require(hr == (locked_ ? S_OK : APOERR_ALREADY_UNLOCKED), "Unlock answers by the lock state");
    locked_ = false;
  }

 private:
  IAudioProcessingObject* apo_ = nullptr;
  IAudioProcessingObjectConfiguration* configuration_ = nullptr;
  IAudioProcessingObjectRT* rt_ = nullptr;
  bool locked_ = false;
};

// One engine's negotiation and locks, as the input dictates, on a fresh object.
void runSession(FuzzInput& in) {
  Engine engine;
  for (int operations = kOperationBudget; operations > 0 && !in.exhausted(); --operations) {
    const auto op = static_cast<Op>(in.byte() % static_cast<int>(Op::Count));
    switch (op) {
      case Op::InputQuestion:
      case Op::OutputQuestion: {
        const std::uint8_t shape = in.byte();
        const OfferedFormat opposite = readFormat(in);
        const OfferedFormat requested = readFormat(in);
        UNCOMPRESSEDAUDIOFORMAT chosen{};
        askFormat(engine.apo(), op == Op::InputQuestion, opposite, requested, (shape & 1) != 0,
                  chosen);
        break;
      }
      case Op::Lock: {
        const OfferedFormat offered = readFormat(in);
        engine.lock(readLockShape(in, offered.format, offered.result), false, in);
        break;
      }
      case Op::NegotiatedLock: {
        // The engine's way: ask, then lock with the format it was told to use.
        const OfferedFormat requested = readFormat(in);
        const OfferedFormat none{};
        UNCOMPRESSEDAUDIOFORMAT chosen{};
        if (askFormat(engine.apo(), true, none, requested, false, chosen))
          engine.lock(readLockShape(in, chosen, S_OK), true, in);
        break;
      }
      case Op::Unlock:
        engine.unlock();
        break;
      case Op::Count:
        break;
    }
  }
}

}  // namespace
}  // namespace vorlund::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Locking opens the parameter channel and writes the log: in a data folder of this process.
  static const vorlund::test::TempDataFolder dataFolder;
  vorlund::fuzz::FuzzInput in(data, size);
  vorlund::fuzz::runSession(in);
  vorlund::fuzz::require(vorlund::objectCount.load() == 0, "every object built is destroyed");
  return 0;
}
