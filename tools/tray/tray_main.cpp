// vorlund-tray: Vorlund in the notification area. The icon and its tooltip show the state of
// the stream and the record (live, muted, bypassed, stale, no stream); a click opens the
// control panel, the menu mutes, bypasses, relearns, applies presets and attaches Vorlund
// again to a microphone it has vanished from. It reads the shared block read-only and changes
// the record the one way vorlund-ctl and the panel do. A timer polls four times a second;
// between ticks the program only waits for messages.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "channel/diagnostic_log.h"
#include "common/control_session.h"
#include "common/endpoint_effects.h"
#include "common/preset_library.h"
#include "common/record_change.h"
#include "common/record_fields.h"
#include "common/stream_state.h"
#include "platform/audio_system.h"
#include "tray_commands.h"
#include "tray_icons.h"

namespace vorlund::tray {
namespace {

constexpr UINT kNotifyMessage = WM_APP + 1;
constexpr UINT kIconId = 1;
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 250;
// The endpoints' effect lists are looked at every eighth tick (two seconds).
constexpr unsigned kEndpointCheckTicks = 8;
constexpr int kHotkeyId = 1;
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Vorlund tray";
constexpr wchar_t kSettingsKey[] = L"Software\\Vorlund\\Tray";
constexpr wchar_t kHotkeyValue[] = L"MuteHotkey";
// PKEY_Device_FriendlyName as the endpoint's property store keeps it in the registry.
constexpr wchar_t kFriendlyNameValue[] = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";

struct HotkeyChoice {
  const wchar_t* label;
  UINT modifiers;
  UINT key;
};
// Off first; the index is what the settings key keeps.
constexpr HotkeyChoice kHotkeys[] = {
    {L"Off", 0, 0},
    {L"Ctrl+Alt+M", MOD_CONTROL | MOD_ALT, 'M'},
    {L"Ctrl+Shift+M", MOD_CONTROL | MOD_SHIFT, 'M'},
    {L"Pause", 0, VK_PAUSE},
};

std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::wstring wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring programFolder() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring ctlPath() {
  return programFolder() + L"\\vorlund-ctl.exe";
}

// The microphone's name as Windows shows it, else its endpoint key.
std::wstring microphoneName(std::u16string_view keyName) {
  const std::wstring key = wide(kCaptureEndpointsKey) + L"\\" + wide(keyName) + L"\\Properties";
  wchar_t name[256] = L"";
  DWORD bytes = sizeof name;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kFriendlyNameValue, RRF_RT_REG_SZ, nullptr,
                   name, &bytes) == ERROR_SUCCESS &&
      name[0] != L'\0')
    return name;
  return wide(keyName);
}

DWORD readSetting(const wchar_t* value, DWORD fallback) {
  DWORD data = 0, bytes = sizeof data;
  return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, value, RRF_RT_REG_DWORD, nullptr, &data,
                      &bytes) == ERROR_SUCCESS
             ? data
             : fallback;
}

void writeSetting(const wchar_t* value, DWORD data) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, value, REG_DWORD, &data, sizeof data);
}

std::wstring runCommandLine() {
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return L"\"" + std::wstring(path) + L"\"";
}

bool startsWithWindows() {
  return RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

void setStartWithWindows(bool on) {
  if (!on) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
    return;
  }
  const std::wstring line = runCommandLine();
  RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, REG_SZ, line.c_str(),
                  static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
}

const wchar_t* stateWord(TrayState state) {
  switch (state) {
    case TrayState::live:
      return L"live";
    case TrayState::muted:
      return L"muted";
    case TrayState::bypassed:
      return L"bypassed";
    case TrayState::stale:
      return L"stale (a stream is open but no sound comes)";
    case TrayState::noStream:
      break;
  }
  return L"no stream";
}

struct Vanished {
  std::u16string key;
  std::wstring name;
};

class Tray {
 public:
  explicit Tray(HINSTANCE instance) : instance_(instance) {}

  bool create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Tray::windowProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) return false;
    // A hidden top-level window: it receives the icon's messages and Explorer's broadcast
    // when the taskbar is recreated.
    window_ = CreateWindowExW(0, kWindowClass, L"Vorlund", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                              nullptr, instance_, this);
    if (window_ == nullptr) return false;
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    hotkey_ = readSetting(kHotkeyValue, 0);
    if (hotkey_ >= std::size(kHotkeys)) hotkey_ = 0;
    registerHotkey(false);
    poll();
    addIcon();
    checkEndpoints();
    SetTimer(window_, kPollTimer, kPollMs, nullptr);
    return true;
  }

  void openMenu() { showMenu(); }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrW(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    auto* tray = reinterpret_cast<Tray*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (tray == nullptr) return DefWindowProcW(window, message, w, l);
    tray->window_ = window;
    return tray->handle(message, w, l);
  }

  LRESULT handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
      case WM_TIMER:
        if (w == kPollTimer) {
          poll();
          if (++ticks_ % kEndpointCheckTicks == 0) checkEndpoints();
        }
        return 0;
      case kNotifyMessage:
        switch (LOWORD(l)) {
          case WM_LBUTTONUP:
            command(kOpenPanel);
            break;
          case WM_RBUTTONUP:
          case WM_CONTEXTMENU:
            showMenu();
            break;
          case NIN_BALLOONUSERCLICK:
            if (!vanished_.empty()) reattach(vanished_.front());
            break;
        }
        return 0;
      case WM_COMMAND:
        command(LOWORD(w));
        return 0;
      case WM_HOTKEY:
        if (w == kHotkeyId) command(kMute);
        return 0;
      case WM_CLOSE:
        DestroyWindow(window_);
        return 0;
      case WM_DESTROY:
        KillTimer(window_, kPollTimer);
        UnregisterHotKey(window_, kHotkeyId);
        removeIcon();
        PostQuitMessage(0);
        return 0;
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
      iconAdded_ = false;
      addIcon();
      return 0;
    }
    return DefWindowProcW(window_, message, w, l);
  }

  // The stream and the record as they are now.
  void poll() {
    if (!session_ || session_->sharedFile().state() != SharedFile::State::mapped) {
      // Looked for afresh each tick until a stream has created it.
      session_.reset();
      session_.emplace(dataFolder());
      session_->readOnly();
    }
    std::optional<StreamState> stream;
    if (session_->sharedFile().state() == SharedFile::State::mapped) {
      const StreamReading reading = readStream(session_->sharedFile().block());
      const std::optional<std::uint64_t> age = reading.lastBlockAgeMs();
      stream = classifyStream(reading.activeStreams, age && *age <= kStaleAfterMs);
    }
    try {
      const RecordInForce inForce = session_->recordInForce();
      muted_ = inForce.record.mute != 0;
      bypassed_ = inForce.record.bypass != 0;
      record_ = inForce.record;
    } catch (const std::exception&) {
      // A writer busy for long: the flags stay as last seen.
    }
    TrayState state = TrayState::noStream;
    if (stream == StreamState::live) state = TrayState::live;
    if (stream == StreamState::stale) state = TrayState::stale;
    const TrayState streamState = state;
    if (bypassed_) state = TrayState::bypassed;
    if (muted_) state = TrayState::muted;

    std::wstring tip = std::wstring(L"Vorlund: ") + stateWord(state);
    if (state != streamState) tip += std::wstring(L"\nstream: ") + stateWord(streamState);
    for (const Vanished& v : vanished_) tip += L"\nremoved from " + v.name;
    if (state == state_ && tip == tip_) return;
    state_ = state;
    tip_ = tip;
    // The window's text is the tooltip: what scripts and tests read.
    SetWindowTextW(window_, tip_.c_str());
    if (iconAdded_) updateIcon(NIM_MODIFY);
  }

  void fillIcon(NOTIFYICONDATAW& data) {
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = kNotifyMessage;
    if (icon_ != nullptr) DestroyIcon(icon_);
    icon_ = drawStateIcon(state_, GetSystemMetrics(SM_CXSMICON));
    data.hIcon = icon_;
    lstrcpynW(data.szTip, tip_.c_str(), static_cast<int>(std::size(data.szTip)));
  }

  void updateIcon(DWORD action) {
    NOTIFYICONDATAW data{};
    fillIcon(data);
    if (Shell_NotifyIconW(action, &data) && action == NIM_ADD) iconAdded_ = true;
  }

  void addIcon() { updateIcon(NIM_ADD); }

  void removeIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    if (icon_ != nullptr) DestroyIcon(icon_);
    icon_ = nullptr;
  }

  void balloon(const std::wstring& title, const std::wstring& text, DWORD flags) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = flags;
    lstrcpynW(data.szInfoTitle, title.c_str(), static_cast<int>(std::size(data.szInfoTitle)));
    lstrcpynW(data.szInfo, text.c_str(), static_cast<int>(std::size(data.szInfo)));
    Shell_NotifyIconW(NIM_MODIFY, &data);
  }

  void showMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING | (muted_ ? MF_CHECKED : 0), kMute, L"Mute");
    AppendMenuW(menu, MF_STRING | (bypassed_ ? MF_CHECKED : 0), kBypass, L"Bypass");
    AppendMenuW(menu, MF_STRING, kRelearn, L"Relearn noise");
    HMENU presets = CreatePopupMenu();
    presetNames_.clear();
    try {
      const PresetCatalog catalog = toolPresets(std::nullopt);
      bool user = false;
      for (const PresetInfo& preset : catalog.presets()) {
        // The user's own after the shipped ones, below a line.
        if (preset.origin == PresetOrigin::user && !user && !presetNames_.empty())
          AppendMenuW(presets, MF_SEPARATOR, 0, nullptr);
        user = user || preset.origin == PresetOrigin::user;
        ParameterBlock record;
        const bool current =
            catalog.load(preset.name, record).ok() && recordChanges(record, record_).empty();
        AppendMenuW(presets, MF_STRING | (current ? MF_CHECKED : 0),
                    kPresetFirst + presetNames_.size(), wide(preset.name).c_str());
        presetNames_.push_back(preset.name);
      }
    } catch (const std::exception&) {
    }
    AppendMenuW(menu, MF_POPUP | (presetNames_.empty() ? MF_GRAYED : 0),
                reinterpret_cast<UINT_PTR>(presets), L"Presets");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (std::size_t i = 0; i < vanished_.size(); ++i)
      AppendMenuW(menu, MF_STRING, kReattachFirst + i,
                  (L"Attach Vorlund again to " + vanished_[i].name).c_str());
    AppendMenuW(menu, MF_STRING, kOpenPanel, L"Open control panel");
    HMENU hotkeys = CreatePopupMenu();
    for (std::size_t i = 0; i < std::size(kHotkeys); ++i)
      AppendMenuW(hotkeys, MF_STRING | (i == hotkey_ ? MF_CHECKED : 0), kHotkeyOff + i,
                  kHotkeys[i].label);
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(hotkeys), L"Mute hotkey");
    AppendMenuW(menu, MF_STRING | (startsWithWindows() ? MF_CHECKED : 0), kStartWithWindows,
                L"Start with Windows");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kExit, L"Exit");
    SetMenuDefaultItem(menu, kOpenPanel, FALSE);

    POINT at{};
    GetCursorPos(&at);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window_);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
    DestroyMenu(menu);
  }

  void command(unsigned id) {
    switch (id) {
      case kMute:
        changeRecord([](ParameterBlock& next) {
          next.mute = next.mute != 0 ? 0u : 1u;
          return RecordReport{};
        });
        return;
      case kBypass:
        changeRecord([](ParameterBlock& next) {
          next.bypass = next.bypass != 0 ? 0u : 1u;
          return RecordReport{};
        });
        return;
      case kRelearn:
        relearn();
        return;
      case kOpenPanel:
        runCtl(L"open", L"panel", SW_SHOWMINNOACTIVE);
        return;
      case kStartWithWindows:
        setStartWithWindows(!startsWithWindows());
        return;
      case kExit:
        DestroyWindow(window_);
        return;
    }
    if (id >= kHotkeyOff && id < kHotkeyOff + std::size(kHotkeys)) {
      hotkey_ = id - kHotkeyOff;
      writeSetting(kHotkeyValue, hotkey_);
      registerHotkey(true);
    } else if (id >= kPresetFirst && id < kPresetFirst + presetNames_.size()) {
      const std::string name = presetNames_[id - kPresetFirst];
      changeRecord(
          [&name](ParameterBlock& next) { return toolPresets(std::nullopt).load(name, next); });
    } else if (id >= kReattachFirst && id < kReattachFirst + vanished_.size()) {
      reattach(vanished_[id - kReattachFirst]);
    }
  }

  // Through the writers' lock, as vorlund-ctl and the panel change it.
  void changeRecord(const RecordBuilder& build) {
    try {
      ControlSession session(dataFolder());
      session.requireDataFolder();
      const RecordChange change = putRecordInForce(session, build, {.lockWaitMs = 2000});
      if (!change.report.ok())
        balloon(L"Vorlund: nothing changed", wide(change.report.errors.back()), NIIF_ERROR);
      else if (change.committed && !change.publication.saved)
        balloon(L"Vorlund: not saved", wide(change.publication.saveError), NIIF_WARNING);
    } catch (const std::exception& e) {
      balloon(L"Vorlund: nothing changed", wide(e.what()), NIIF_ERROR);
    }
    poll();
  }

  void relearn() {
    try {
      ControlSession session(dataFolder());
      session.requireDataFolder();
      session.requireUsableSharedFile("relearn needs a stream");
      sharedWord(session.sharedFile().block().relearnCounter).fetch_add(1);
    } catch (const std::exception& e) {
      balloon(L"Vorlund: no relearn", wide(e.what()), NIIF_WARNING);
    }
  }

  void registerHotkey(bool sayIfTaken) {
    UnregisterHotKey(window_, kHotkeyId);
    const HotkeyChoice& choice = kHotkeys[hotkey_];
    if (choice.key == 0) return;
    if (!RegisterHotKey(window_, kHotkeyId, choice.modifiers | MOD_NOREPEAT, choice.key) &&
        sayIfTaken)
      balloon(L"Vorlund", std::wstring(choice.label) + L" is taken by another program.",
              NIIF_WARNING);
  }

  bool runCtl(const wchar_t* verb, const std::wstring& arguments, int show) {
    const std::wstring folder = programFolder();
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window_, verb, ctlPath().c_str(), arguments.c_str(), folder.c_str(), show));
    if (result > 32) return true;
    balloon(L"Vorlund", L"Could not start " + ctlPath() + L".", NIIF_ERROR);
    return false;
  }

  // Endpoints Vorlund was attached to (a backup of their values exists, which 'detach'
  // removes) whose effect list no longer names it: a driver or Windows update rewrote it.
  void checkEndpoints() {
    std::vector<Vanished> now;
    try {
      for (const std::u16string& key : backedUpEndpoints()) {
        try {
          if (!endpointState(key).attached) now.push_back({key, microphoneName(key)});
        } catch (const EndpointError&) {
          // The endpoint is gone altogether: nothing to attach to.
        }
      }
    } catch (const std::exception&) {
      return;
    }
    for (const Vanished& v : now) {
      const bool known = std::any_of(vanished_.begin(), vanished_.end(),
                                     [&](const Vanished& old) { return old.key == v.key; });
      if (!known)
        balloon(L"Vorlund is no longer on " + v.name,
                L"A driver or Windows update removed it. Click here or use the menu to attach "
                L"it again.",
                NIIF_WARNING);
    }
    vanished_ = std::move(now);
    poll();
  }

  void reattach(const Vanished& v) {
    // Attaching writes the endpoint's keys: administrator rights, asked for when missing.
    runCtl(processIsElevated() ? L"open" : L"runas", L"attach " + wide(v.key), SW_SHOWNORMAL);
  }

  HINSTANCE instance_;
  HWND window_ = nullptr;
  UINT taskbarCreated_ = 0;
  HICON icon_ = nullptr;
  bool iconAdded_ = false;
  std::optional<ControlSession> session_;
  bool muted_ = false;
  bool bypassed_ = false;
  ParameterBlock record_{};
  TrayState state_ = TrayState::noStream;
  std::wstring tip_;
  unsigned ticks_ = 0;
  DWORD hotkey_ = 0;
  std::vector<std::string> presetNames_;
  std::vector<Vanished> vanished_;
};

// One tray per user: the mutex's name carries the user's name, in the session's namespace.
HANDLE claimSingleInstance() {
  wchar_t user[257] = L"";
  DWORD length = static_cast<DWORD>(std::size(user));
  GetUserNameW(user, &length);
  const std::wstring name = std::wstring(L"Local\\VorlundTray-") + user;
  HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

}  // namespace
}  // namespace vorlund::tray

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace vorlund::tray;
  HANDLE mutex = claimSingleInstance();
  if (mutex == nullptr) return 0;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  // --show-menu opens the menu at once (for pictures of it).
  const bool showMenu = argc > 1 && std::wstring(argv[1]) == L"--show-menu";
  LocalFree(argv);
  Tray tray(instance);
  if (!tray.create()) return 1;
  if (showMenu) tray.openMenu();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  CloseHandle(mutex);
  return 0;
}
