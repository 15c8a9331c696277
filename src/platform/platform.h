// Layer: base
// Detects the target once, so that no file outside src/platform/ needs its own #if.
#pragma once

#if defined(_WIN32)
#define VORLUND_WINDOWS 1
#else
#define VORLUND_WINDOWS 0
#endif
