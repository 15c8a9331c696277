// The audio engine's side of LockForProcess: a media type that answers the format question
// and the connection descriptors. Free of GoogleTest, so the fuzz targets use it too.
#pragma once

#include "engine/processing_lifecycle.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund::test {

inline UNCOMPRESSEDAUDIOFORMAT floatFormat(UINT32 channels, float rate) {
  return {KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, channels, 4, 32, rate, 0};
}

// Describes one fixed format, or fails the question with a given HRESULT.
class FakeMediaType final : public IAudioMediaType {
 public:
  explicit FakeMediaType(UNCOMPRESSEDAUDIOFORMAT format, HRESULT result = S_OK)
      : format_(format), result_(result) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* compressed) override {
    *compressed = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsEqual(IAudioMediaType*, DWORD*) override { return E_NOTIMPL; }
  const WAVEFORMATEX* STDMETHODCALLTYPE GetAudioFormat() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetUncompressedAudioFormat(UNCOMPRESSEDAUDIOFORMAT* out) override {
    if (FAILED(result_)) return result_;
    *out = format_;
    return S_OK;
  }

 private:
  UNCOMPRESSEDAUDIOFORMAT format_;
  HRESULT result_;
};

// One input and one output connection of the given format and maximum frame counts.
struct StreamConnections {
  explicit StreamConnections(UNCOMPRESSEDAUDIOFORMAT format, UINT32 maxInputFrames = 480,
                             UINT32 maxOutputFrames = 480, HRESULT formatResult = S_OK)
      : type(format, formatResult) {
    input.u32MaxFrameCount = maxInputFrames;
    input.pFormat = &type;
    output.u32MaxFrameCount = maxOutputFrames;
    output.pFormat = &type;
  }
  StreamConnections(const StreamConnections&) = delete;

  HRESULT lock(ProcessingLifecycle& lifecycle) {
    APO_CONNECTION_DESCRIPTOR* ins[] = {&input};
    APO_CONNECTION_DESCRIPTOR* outs[] = {&output};
    return lifecycle.lockForProcess(1, ins, 1, outs);
  }

  FakeMediaType type;
  APO_CONNECTION_DESCRIPTOR input{};
  APO_CONNECTION_DESCRIPTOR output{};
};

}  // namespace vorlund::test
