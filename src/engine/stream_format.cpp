// Layer: record
#include "engine/stream_format.h"

namespace vorlund {

bool isFloat32(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept {
  return format.guidFormatType == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT &&
         format.dwBytesPerSampleContainer == 4;
}

bool isSupportedFrameRate(float framesPerSecond) noexcept {
  // Written so that NaN fails both comparisons.
  return framesPerSecond >= kMinFrameRate && framesPerSecond <= kMaxFrameRate;
}

}  // namespace vorlund
