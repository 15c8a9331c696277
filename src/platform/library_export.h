// Layer: base
// Marks the library's entry points for export. The Windows build names them in its .def
// file; the Linux build hides every other symbol (-fvisibility=hidden) and gives these the
// default visibility.
#pragma once

#include "platform/platform.h"

#if VORLUND_WINDOWS
#define VORLUND_EXPORT
#else
#define VORLUND_EXPORT __attribute__((visibility("default")))
#endif
