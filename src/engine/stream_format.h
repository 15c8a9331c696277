// Layer: record
// The stream formats the effect can process: 32-bit float samples at a frame rate from
// 8000 to 384000 Hz. Shared by format negotiation and LockForProcess, which tests the
// locked format again.
#pragma once

#include "platform/com/apo_interfaces.h"

namespace vorlund {

// Frame rates accepted, both limits included.
constexpr float kMinFrameRate = 8000.0f;
constexpr float kMaxFrameRate = 384000.0f;

// IEEE float samples in 4-byte containers.
bool isFloat32(const UNCOMPRESSEDAUDIOFORMAT& format) noexcept;
// False for NaN and for rates outside the accepted range.
bool isSupportedFrameRate(float framesPerSecond) noexcept;

}  // namespace vorlund
