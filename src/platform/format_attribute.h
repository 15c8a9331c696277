// Layer: base
// Lets the compiler check printf-style arguments against the format the C library of each
// target actually implements.
#pragma once

#include "platform/platform.h"

#if VORLUND_WINDOWS
#define VORLUND_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define VORLUND_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif
