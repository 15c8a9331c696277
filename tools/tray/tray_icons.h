// The notification-area pictures, drawn at run time: one per state the tray shows.
#pragma once

#include <windows.h>

namespace vorlund::tray {

enum class TrayState { live, muted, bypassed, stale, noStream };

// An icon of `size` pixels square for `state`; the caller destroys it.
HICON drawStateIcon(TrayState state, int size);

}  // namespace vorlund::tray
