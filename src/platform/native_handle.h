// Layer: base
// The operating system's reference to an open object: a HANDLE on Windows, a file
// descriptor elsewhere.
#pragma once

#include "platform/com/com_types.h"

namespace vorlund {

#if VORLUND_WINDOWS
using NativeHandle = HANDLE;
#else
using NativeHandle = int;
#endif

}  // namespace vorlund
