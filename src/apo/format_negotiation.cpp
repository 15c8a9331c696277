// Layer: apo
#include "apo/format_negotiation.h"

#include "apo/media_type.h"
#include "channel/diagnostic_log.h"
#include "engine/stream_format.h"

namespace vorlund {
namespace {

constexpr DWORD kFloatBytes = 4;
constexpr DWORD kFloatBits = 32;

}  // namespace

HRESULT checkFormat(IAudioMediaType* opposite, IAudioMediaType* requested,
                    IAudioMediaType** out) noexcept {
  if (requested == nullptr || out == nullptr) return E_POINTER;
  *out = nullptr;
  UNCOMPRESSEDAUDIOFORMAT asked{};
  if (FAILED(requested->GetUncompressedAudioFormat(&asked))) return APOERR_FORMAT_NOT_SUPPORTED;

  // The opposite side, when it can say what it is, decides everything but the sample type.
  UNCOMPRESSEDAUDIOFORMAT candidate = asked;
  UNCOMPRESSEDAUDIOFORMAT other{};
  if (opposite != nullptr && SUCCEEDED(opposite->GetUncompressedAudioFormat(&other)))
    candidate = other;
  candidate.guidFormatType = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  candidate.dwBytesPerSampleContainer = kFloatBytes;
  candidate.dwValidBitsPerSample = kFloatBits;

  if (candidate.dwSamplesPerFrame == 0 || candidate.dwSamplesPerFrame > kMaxChannelCount)
    return APOERR_FORMAT_NOT_SUPPORTED;
  if (!isSupportedFrameRate(candidate.fFramesPerSecond)) return APOERR_FORMAT_NOT_SUPPORTED;

  // The channel mask is not compared: it does not change how samples are laid out.
  if (isFloat32(asked) && asked.dwValidBitsPerSample == kFloatBits &&
      asked.dwSamplesPerFrame == candidate.dwSamplesPerFrame &&
      asked.fFramesPerSecond == candidate.fFramesPerSecond) {
    requested->AddRef();
    *out = requested;
    return S_OK;
  }
  MediaType* suggestion = MediaType::create(candidate);
  if (suggestion == nullptr) return E_OUTOFMEMORY;
  *out = suggestion;
  return S_FALSE;
}

void logFormatRejection(const char* methodName, IAudioMediaType* requested,
                        HRESULT result) noexcept {
  UNCOMPRESSEDAUDIOFORMAT format{};
  // Whatever the format question answers, the line is written.
  if (requested != nullptr) requested->GetUncompressedAudioFormat(&format);
  const int isFloat = format.guidFormatType == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT ? 1 : 0;
  logLine("%s: %lu ch, %lu bytes/sample, %.0f Hz, float=%d -> 0x%08lx", methodName,
          static_cast<unsigned long>(format.dwSamplesPerFrame),
          static_cast<unsigned long>(format.dwBytesPerSampleContainer),
          static_cast<double>(format.fFramesPerSecond), isFloat,
          static_cast<unsigned long>(static_cast<std::uint32_t>(result)));
}

HRESULT negotiateFormat(const char* methodName, IAudioMediaType* opposite,
                        IAudioMediaType* requested, IAudioMediaType** out) noexcept {
  const HRESULT hr = checkFormat(opposite, requested, out);
  if (FAILED(hr)) logFormatRejection(methodName, requested, hr);
  return hr;
}

}  // namespace vorlund
