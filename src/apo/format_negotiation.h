// Layer: apo
// Format negotiation: the answer to IsInputFormatSupported and IsOutputFormatSupported. The
// effect processes 32-bit float in place with equal formats on both sides, so a requested
// format is accepted when it is the float version of the opposite side's format (or, with
// no opposite, of itself) with 1 to 64 channels and a rate from 8000 to 384000 Hz; a
// repairable format gets that version suggested as a new MediaType; the rest is refused and
// the refusal logged. No state is kept: LockForProcess tests the locked format again.
#pragma once

#include <cstdint>

#include "platform/com/apo_interfaces.h"

namespace vorlund {

// Channels per frame accepted, at most.
constexpr std::uint32_t kMaxChannelCount = 64;

// Any thread; may allocate the suggestion. S_OK (*out is `requested` with one reference
// added), S_FALSE (*out is a new suggestion with one reference for the caller), E_POINTER,
// APOERR_FORMAT_NOT_SUPPORTED (a NaN rate included) or E_OUTOFMEMORY; *out is null unless
// S_OK or S_FALSE.
HRESULT checkFormat(IAudioMediaType* opposite, IAudioMediaType* requested,
                    IAudioMediaType** out) noexcept;

// Configuration thread: one log line naming the method, the requested format (all zero when
// `requested` is null or cannot describe itself) and the result.
void logFormatRejection(const char* methodName, IAudioMediaType* requested,
                        HRESULT result) noexcept;

// Configuration thread: checkFormat, logging failures (not S_FALSE) under `methodName`.
HRESULT negotiateFormat(const char* methodName, IAudioMediaType* opposite,
                        IAudioMediaType* requested, IAudioMediaType** out) noexcept;

}  // namespace vorlund
