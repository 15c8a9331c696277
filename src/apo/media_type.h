// Layer: apo
// The effect's own IAudioMediaType: an immutable description of one uncompressed format,
// handed to the audio engine as the suggestion of format negotiation. It carries the same
// format as a WAVEFORMATEXTENSIBLE for GetAudioFormat, built once at creation.
#pragma once

#include <atomic>

#include "platform/com/apo_interfaces.h"

namespace vorlund {

// IAudioMediaType::IsEqual for any media type that describes itself as `format`: flags
// AUDIOMEDIATYPE_EQUAL_FORMAT_TYPES when the format types match, and also the DATA and
// USER_DATA flags when every field matches exactly (a NaN rate never does); 0 when the other
// type cannot describe itself. Inline, so that hosts (the tools, the tests) compare exactly
// as the effect does without linking the effect.
inline HRESULT compareMediaType(const UNCOMPRESSEDAUDIOFORMAT& format, IAudioMediaType* other,
                                DWORD* flags) noexcept {
  if (other == nullptr || flags == nullptr) return E_POINTER;
  *flags = 0;
  UNCOMPRESSEDAUDIOFORMAT o{};
  if (FAILED(other->GetUncompressedAudioFormat(&o))) return S_OK;
  if (o.guidFormatType != format.guidFormatType) return S_OK;
  DWORD equal = AUDIOMEDIATYPE_EQUAL_FORMAT_TYPES;
  if (o.dwSamplesPerFrame == format.dwSamplesPerFrame &&
      o.dwBytesPerSampleContainer == format.dwBytesPerSampleContainer &&
      o.dwValidBitsPerSample == format.dwValidBitsPerSample &&
      o.fFramesPerSecond == format.fFramesPerSecond && o.dwChannelMask == format.dwChannelMask)
    equal |= AUDIOMEDIATYPE_EQUAL_FORMAT_DATA | AUDIOMEDIATYPE_EQUAL_FORMAT_USER_DATA;
  *flags = equal;
  return S_OK;
}

class MediaType final : public IAudioMediaType {
 public:
  // Any thread: a new object with one reference for the caller, or null without memory.
  static MediaType* create(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept;

  // Any thread; reference counts are interlocked and nothing else changes after creation.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* pfCompressed) override;
  // compareMediaType on this type's format.
  HRESULT STDMETHODCALLTYPE IsEqual(IAudioMediaType* pIAudioType, DWORD* pdwFlags) override;
  // Valid while the object lives.
  const WAVEFORMATEX* STDMETHODCALLTYPE GetAudioFormat() override;
  HRESULT STDMETHODCALLTYPE
  GetUncompressedAudioFormat(UNCOMPRESSEDAUDIOFORMAT* pUncompressedAudioFormat) override;

 private:
  explicit MediaType(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept;
  ~MediaType() = default;

  std::atomic<LONG> referenceCount_{1};
  const UNCOMPRESSEDAUDIOFORMAT uncompressedFormat_;
  WAVEFORMATEXTENSIBLE waveFormat_{};
};

}  // namespace vorlund
