// Layer: base
// The APO SDK records the block frame uses. MinGW ships no APO headers, so these are our own
// declarations on both targets, laid out as the Windows SDK lays them out.
#pragma once

#include <cstddef>

#include "platform/com/com_types.h"

enum APO_BUFFER_FLAGS : int {
  BUFFER_INVALID = 0,
  BUFFER_VALID = 1,
  BUFFER_SILENT = 2,
};

struct APO_CONNECTION_PROPERTY {
  UINT_PTR pBuffer;  // interleaved 32-bit float frames
  UINT32 u32ValidFrameCount;
  APO_BUFFER_FLAGS u32BufferFlags;
  UINT32 u32Signature;
};

static_assert(sizeof(APO_BUFFER_FLAGS) == 4);
static_assert(offsetof(APO_CONNECTION_PROPERTY, u32ValidFrameCount) == 8);
static_assert(offsetof(APO_CONNECTION_PROPERTY, u32BufferFlags) == 12);
static_assert(offsetof(APO_CONNECTION_PROPERTY, u32Signature) == 16);
static_assert(sizeof(APO_CONNECTION_PROPERTY) == 24);
