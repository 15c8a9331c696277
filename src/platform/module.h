// Layer: platform
// The module this code is linked into: its full path, as registration writes it into the
// registry. On Windows the library's entry routine (DllMain, in the Win32 backend) saves the
// module handle at process attach and switches off thread notifications, which the effect
// does not need; in a program the module is the program itself. On Linux the module is
// the shared object (or program) that holds this code, found with dladdr.
#pragma once

#include <cstdint>

#include "platform/error_codes.h"

namespace vorlund {

// GetModuleFileNameW semantics: copies the full path with its terminator into `buffer` of
// `capacity` characters and returns its length. A path that does not fit is cut, still
// terminated, and `capacity` is returned with `error` set to ERROR_INSUFFICIENT_BUFFER. On
// failure returns 0 with `error` set to the last error, which may itself be 0.
std::uint32_t moduleFileName(char16_t* buffer, std::uint32_t capacity, DWORD& error) noexcept;

}  // namespace vorlund
