// A failure of the operating system as the tools tell it: the reason in words, then the
// system's number ("access denied (error 5)"), alike on every platform.
#pragma once

#include <string>

#include "platform/error_codes.h"

namespace vorlund {

std::string systemErrorText(DWORD error);

}  // namespace vorlund
