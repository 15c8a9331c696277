// What other programs may send vorlund-tray's window: its class (the uninstaller closes it with
// WM_CLOSE) and the menu's command ids (WM_COMMAND). The window's text is the tooltip, so a
// script or test can read the state the icon shows.
#pragma once

namespace vorlund::tray {

inline constexpr wchar_t kWindowClass[] = L"VorlundTray";

enum Command : unsigned {
  kMute = 100,
  kBypass,
  kRelearn,
  kOpenPanel,
  kStartWithWindows,
  kExit,
  kHotkeyOff = 200,  // then one id per hotkey choice
  kPresetFirst = 300,
  kReattachFirst = 900,
};

}  // namespace vorlund::tray
