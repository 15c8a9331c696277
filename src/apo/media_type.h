// The effect's own IAudioMediaType: an immutable description of one uncompressed format,
// handed to the audio engine as the suggestion of format negotiation. It carries the same
// format as a WAVEFORMATEXTENSIBLE for GetAudioFormat, built once at creation.
#pragma once

#include <atomic>

#include "platform/com/apo_interfaces.h"

namespace vorlund {

class MediaType final : public IAudioMediaType {
 public:
  // Any thread: a new object with one reference for the caller, or null without memory.
  static MediaType* create(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept;

  // Any thread; reference counts are interlocked and nothing else changes after creation.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* pfCompressed) override;
  // Flags AUDIOMEDIATYPE_EQUAL_FORMAT_TYPES when the format types match, and also the DATA
  // and USER_DATA flags when every field matches exactly (a NaN rate never does).
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
