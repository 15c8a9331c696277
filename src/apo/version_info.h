// Layer: apo
// The component's name, notice and version, read by both the version resource (version.rc,
// through the resource compiler's preprocessor, hence macros) and the registration record.
#pragma once

// VORLUND_VERSION_MAJOR, _MINOR, _PATCH and _TEXT, generated from the project version.
#include "vorlund_version.h"

#define VORLUND_PRODUCT_NAME "Vorlund"
#define VORLUND_FILE_DESCRIPTION "Vorlund audio processing object"
#define VORLUND_INTERNAL_NAME "VorlundApo"
// At most 255 characters: it fills szCopyrightInfo[256] with its terminator.
#define VORLUND_NOTICE \
  "Vorlund microphone voice processor. Copyright (c) the Vorlund developers. All rights reserved."
