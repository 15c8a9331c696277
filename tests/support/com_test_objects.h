// COM objects the tests hand to the effect, the way the audio engine and an aggregating
// host would: a reference-counted media type that describes one format (or fails to), and
// an outer object that records what reaches it.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "common/counted_media_type.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund::test {

using vorlund::CountedMediaType;
using vorlund::floatFormat;
using vorlund::pcm16Format;

// An aggregating object: counts what is delegated to it and answers IUnknown itself.
class RecordingOuter final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count); }

  std::atomic<int> count{1};
  std::atomic<int> queries{0};
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
inline std::string guidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

inline std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace vorlund::test

namespace vorlund::test {

// One input and one output connection of one format, as the engine locks and runs them.
struct HostStream {
  explicit HostStream(UNCOMPRESSEDAUDIOFORMAT format, UINT32 maxInputFrames = 480,
                      UINT32 maxOutputFrames = 480, HRESULT formatResult = S_OK)
      : type(format, formatResult) {
    input.u32MaxFrameCount = maxInputFrames;
    input.pFormat = &type;
    output.u32MaxFrameCount = maxOutputFrames;
    output.pFormat = &type;
  }
  HostStream(const HostStream&) = delete;

  HRESULT lock(IAudioProcessingObjectConfiguration& apo) {
    APO_CONNECTION_DESCRIPTOR* ins[] = {&input};
    APO_CONNECTION_DESCRIPTOR* outs[] = {&output};
    return apo.LockForProcess(1, ins, 1, outs);
  }
  // One block in place over interleaved `samples`; returns the output connection.
  APO_CONNECTION_PROPERTY process(IAudioProcessingObjectRT& apo, float* samples, UINT32 frames) {
    APO_CONNECTION_PROPERTY in{reinterpret_cast<UINT_PTR>(samples), frames, BUFFER_VALID, 0};
    APO_CONNECTION_PROPERTY out{reinterpret_cast<UINT_PTR>(samples), 0, BUFFER_INVALID, 0};
    APO_CONNECTION_PROPERTY* ins[] = {&in};
    APO_CONNECTION_PROPERTY* outs[] = {&out};
    apo.APOProcess(1, ins, 1, outs);
    return out;
  }

  CountedMediaType type;
  APO_CONNECTION_DESCRIPTOR input{};
  APO_CONNECTION_DESCRIPTOR output{};
};

}  // namespace vorlund::test
