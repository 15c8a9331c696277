// A host's own IAudioMediaType: a reference-counted description of one uncompressed format
// (or a failure to give one), as the audio engine hands formats to an effect. It lives on the
// host's stack, so its count only shows what the effect added or released.
#pragma once

#include <atomic>

#include "apo/media_type.h"
#include "platform/com/apo_interfaces.h"

namespace vorlund {

inline UNCOMPRESSEDAUDIOFORMAT floatFormat(UINT32 channels, float rate, DWORD mask = 0) {
  return {KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, channels, 4, 32, rate, mask};
}

// {00000001-0000-0010-8000-00AA00389B71}
inline UNCOMPRESSEDAUDIOFORMAT pcm16Format(UINT32 channels, float rate, DWORD mask = 0) {
  UNCOMPRESSEDAUDIOFORMAT format = floatFormat(channels, rate, mask);
  format.guidFormatType.Data1 = 1;
  format.dwBytesPerSampleContainer = 2;
  format.dwValidBitsPerSample = 16;
  return format;
}

// Lives on the stack; its count shows what the effect added or released.
class CountedMediaType final : public IAudioMediaType {
 public:
  explicit CountedMediaType(UNCOMPRESSEDAUDIOFORMAT format, HRESULT result = S_OK)
      : format_(format), result_(result) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IAudioMediaType) {
      *ppv = static_cast<IAudioMediaType*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count_); }
  HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* compressed) override {
    if (compressed == nullptr) return E_POINTER;
    *compressed = FALSE;
    return S_OK;
  }
  // A type that cannot describe itself answers with the same failure.
  HRESULT STDMETHODCALLTYPE IsEqual(IAudioMediaType* other, DWORD* flags) override {
    if (FAILED(result_)) return result_;
    return compareMediaType(format_, other, flags);
  }
  const WAVEFORMATEX* STDMETHODCALLTYPE GetAudioFormat() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetUncompressedAudioFormat(UNCOMPRESSEDAUDIOFORMAT* out) override {
    if (out == nullptr) return E_POINTER;
    if (FAILED(result_)) return result_;
    *out = format_;
    return S_OK;
  }

  // References beyond the one the test holds.
  int extraReferences() const { return count_.load() - 1; }

 private:
  UNCOMPRESSEDAUDIOFORMAT format_;
  HRESULT result_;
  std::atomic<int> count_{1};
};

}  // namespace vorlund
