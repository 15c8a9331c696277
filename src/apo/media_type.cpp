// Layer: apo
#include "apo/media_type.h"

#include <new>

namespace vorlund {
namespace {

constexpr WORD kBitsPerSample = 32;
constexpr WORD kBytesPerSample = 4;
// Bytes that follow WAVEFORMATEX in WAVEFORMATEXTENSIBLE.
constexpr WORD kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
static_assert(kExtensibleExtraBytes == 22);

// Truncated toward zero; a rate no DWORD can hold (NaN included) becomes 0 rather than
// undefined behaviour.
DWORD wholeFramesPerSecond(float framesPerSecond) noexcept {
  if (!(framesPerSecond >= 0.0f) || framesPerSecond >= 4294967296.0f) return 0;
  return static_cast<DWORD>(framesPerSecond);
}

}  // namespace

MediaType* MediaType::create(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept {
  return new (std::nothrow) MediaType(format);
}

MediaType::MediaType(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept : uncompressedFormat_(format) {
  WAVEFORMATEX& wave = waveFormat_.Format;
  wave.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wave.nChannels = static_cast<WORD>(format.dwSamplesPerFrame);
  wave.nSamplesPerSec = wholeFramesPerSecond(format.fFramesPerSecond);
  wave.nBlockAlign = static_cast<WORD>(kBytesPerSample * format.dwSamplesPerFrame);
  wave.nAvgBytesPerSec = static_cast<DWORD>(wave.nBlockAlign) * wave.nSamplesPerSec;
  wave.wBitsPerSample = kBitsPerSample;
  wave.cbSize = kExtensibleExtraBytes;
  waveFormat_.Samples.wValidBitsPerSample = kBitsPerSample;
  waveFormat_.dwChannelMask = format.dwChannelMask;
  waveFormat_.SubFormat = format.guidFormatType;
}

HRESULT MediaType::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAudioMediaType) {
    *ppv = static_cast<IAudioMediaType*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG MediaType::AddRef() {
  return static_cast<ULONG>(referenceCount_.fetch_add(1) + 1);
}

ULONG MediaType::Release() {
  const LONG count = referenceCount_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT MediaType::IsCompressedFormat(BOOL* pfCompressed) {
  if (pfCompressed == nullptr) return E_POINTER;
  *pfCompressed = FALSE;
  return S_OK;
}

HRESULT MediaType::IsEqual(IAudioMediaType* pIAudioType, DWORD* pdwFlags) {
  return compareMediaType(uncompressedFormat_, pIAudioType, pdwFlags);
}

const WAVEFORMATEX* MediaType::GetAudioFormat() {
  return &waveFormat_.Format;
}

HRESULT MediaType::GetUncompressedAudioFormat(UNCOMPRESSEDAUDIOFORMAT* pUncompressedAudioFormat) {
  if (pUncompressedAudioFormat == nullptr) return E_POINTER;
  *pUncompressedAudioFormat = uncompressedFormat_;
  return S_OK;
}

}  // namespace vorlund
