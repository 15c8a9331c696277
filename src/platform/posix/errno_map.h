// Layer: platform
// errno to Win32 error codes, so that failures read the same on every platform.
#pragma once

#include "platform/com/com_types.h"

namespace vorlund {

// The Win32 code for an errno value of a call that has no path.
DWORD win32ErrorFromErrno(int error) noexcept;
// The same for a call on `path`: ENOENT is ERROR_PATH_NOT_FOUND when the folder that should
// hold the last component is missing too, else ERROR_FILE_NOT_FOUND.
DWORD win32ErrorFromErrno(int error, const char* path) noexcept;

}  // namespace vorlund
