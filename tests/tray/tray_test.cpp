// vorlund-tray.exe as a user meets it, under Wine on a virtual X screen: its window's text is
// its tooltip, and WM_COMMAND with a menu id is a click on that menu item.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/endpoint_effects.h"
#include "platform/registry.h"
#include "temp_data_folder.h"
#include "tools/ctl_harness.h"
#include "tray/tray_commands.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;
using test::kPatienceMs;

std::wstring wideText(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// With VORLUND_TRAY_SCREENSHOTS naming a folder, the screen as a bitmap file `name`.bmp there.
void screenshot(const char* name) {
  const char* folder = std::getenv("VORLUND_TRAY_SCREENSHOTS");
  if (folder == nullptr) return;
  HDC screen = GetDC(nullptr);
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  const DWORD imageBytes = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER file{0x4d42,
                        static_cast<DWORD>(sizeof file + sizeof info.bmiHeader + imageBytes), 0, 0,
                        static_cast<DWORD>(sizeof file + sizeof info.bmiHeader)};
  std::ofstream out(std::string(folder) + "\\" + name + ".bmp", std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), imageBytes);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// The tray program started as a separate process (inheriting this one's %ProgramData%), ended
// by WM_CLOSE as the uninstaller ends it.
class RunningTray {
 public:
  // `findWindow` false: a second tray, which must not be taken for the first.
  explicit RunningTray(bool findWindow = true, const std::string& program = VORLUND_TRAY) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring line = L"\"" + wideText(program) + L"\"";
    EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process_));
    for (const std::uint64_t deadline = tickCount64() + kPatienceMs;
         findWindow && window_ == nullptr && tickCount64() < deadline; sleepMilliseconds(50))
      window_ = FindWindowW(tray::kWindowClass, nullptr);
  }
  ~RunningTray() {
    if (process_.hProcess == nullptr) return;
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.hProcess, 10000)) << "WM_CLOSE ends it";
    TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  RunningTray(const RunningTray&) = delete;
  RunningTray& operator=(const RunningTray&) = delete;

  HWND window() const { return window_; }
  HANDLE process() const { return process_.hProcess; }
  std::wstring tip() const {
    wchar_t text[512] = L"";
    GetWindowTextW(window_, text, 512);
    return text;
  }
  // Waits until the tooltip holds `part` (or, `held` false, no longer holds it).
  ::testing::AssertionResult shows(const std::wstring& part, bool held = true) const {
    for (const std::uint64_t deadline = tickCount64() + kPatienceMs; tickCount64() < deadline;
         sleepMilliseconds(50))
      if ((tip().find(part) != std::wstring::npos) == held) return ::testing::AssertionSuccess();
    const std::wstring last = tip();
    return ::testing::AssertionFailure() << "tooltip \"" << std::string(last.begin(), last.end())
                                         << "\" never " << (held ? "held" : "lost") << " the text";
  }
  void click(unsigned command) const { SendMessageW(window_, WM_COMMAND, command, 0); }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// Verifies what the icon tells of a live, a muted, a stalled and a stopped stream, that Mute
// toggles the record in force (as 'show' and the running stream see it), and that a second
// tray of the same user leaves at once.
TEST(TrayTest, ShowsTheStreamAndMutesTheRecord) {
  test::TempDataFolder temp;
  test::BackgroundStream stream;
  stream.start();
  stream.waitForBlocks(3);
  RunningTray tray;
  ASSERT_NE(nullptr, tray.window());
  ASSERT_TRUE(tray.shows(L"Vorlund: live"));
  screenshot("live");

  tray.click(tray::kMute);
  ASSERT_TRUE(tray.shows(L"Vorlund: muted\nstream: live"));
  EXPECT_TRUE(stream.waitForRecord([](const ParameterBlock& p) { return p.mute != 0; }));
  const test::ToolRun show = test::runCtl(temp, {"show"});
  EXPECT_NE(std::string::npos, show.out.find("mute = 1")) << show;
  screenshot("muted");

  {
    RunningTray second(false);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.process(), kPatienceMs));
    EXPECT_EQ(tray.window(), FindWindowW(tray::kWindowClass, nullptr));
  }

  tray.click(tray::kMute);
  ASSERT_TRUE(tray.shows(L"Vorlund: live"));
  EXPECT_NE(std::string::npos, test::runCtl(temp, {"show"}).out.find("mute = 0"));
  stream.pause();
  EXPECT_TRUE(tray.shows(L"Vorlund: stale"));
  stream.stop();
  EXPECT_TRUE(tray.shows(L"Vorlund: no stream"));
  screenshot("stopped");
}

// Verifies that when Vorlund's class id disappears from a microphone it was attached to, the
// tray names that microphone, and that its menu item attaches Vorlund there again.
TEST(TrayTest, OffersToAttachAgainWhereVorlundVanished) {
  test::TempDataFolder temp;
  const std::u16string endpoint = u"{7EA70000-0000-4000-8000-00000000F00D}";
  const std::u16string key = std::u16string(kCaptureEndpointsKey) + u'\\' + endpoint;
  deleteRegistryTree(key.c_str());
  RegistryKey properties;
  ASSERT_EQ(0u, properties.create((key + u"\\Properties").c_str()));
  ASSERT_EQ(0u,
            properties.setString(u"{a45c254e-df1c-4efd-8020-67d146a850e0},2", u"Tray Test Mic"));
  RegistryKey effects;
  ASSERT_EQ(0u, effects.create((key + u"\\FxProperties").c_str()));
  ASSERT_EQ(AttachResult::attached, attachToEndpoint(endpoint, true));

  RunningTray tray;
  ASSERT_NE(nullptr, tray.window());
  ASSERT_TRUE(tray.shows(L"Vorlund: no stream"));
  EXPECT_EQ(std::wstring::npos, tray.tip().find(L"removed from"));
  // What a driver update does: the effect lists rewritten without Vorlund.
  const std::u16string other = u"{AAAAAAAA-1111-2222-3333-444444444444}";
  ASSERT_EQ(0u, effects.setString(kStreamEffectValue, other.c_str()));
  ASSERT_EQ(0u, effects.setValue(kCompositeStreamEffectValue, REG_MULTI_SZ,
                                 multiStringData(std::vector<std::u16string>{other})));
  ASSERT_TRUE(tray.shows(L"removed from Tray Test Mic"));

  tray.click(tray::kReattachFirst);
  for (const std::uint64_t deadline = tickCount64() + kPatienceMs;
       !endpointState(endpoint).attached && tickCount64() < deadline;)
    sleepMilliseconds(100);
  EXPECT_TRUE(endpointState(endpoint).attached);
  EXPECT_TRUE(tray.shows(L"removed from", false));
  detachFromEndpoint(endpoint, true);
  deleteRegistryTree(key.c_str());
}

#ifdef VORLUND_INSTALLER
bool runKeyHoldsTray() {
  return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                      L"Vorlund tray", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Verifies that the installed tray runs from the install folder and that a silent uninstall
// ends it while it runs, removes its file and its sign-in entry.
TEST(TrayTest, UninstallEndsTheRunningTray) {
  // The machine's own data folder, as an installer sees it (the tests before moved it).
  setEnvironmentVariable("ProgramData", "C:\\ProgramData");
  const fs::path scratch = fs::temp_directory_path() / "vorlund-tray-install";
  fs::create_directories(scratch);
  const auto run = [&](const std::string& program) {
    const std::vector<std::string> arguments{program, "/S"};
    return runProcess(arguments, Path::fromNative((scratch / "out").c_str()),
                      Path::fromNative((scratch / "err").c_str()));
  };
  ASSERT_EQ(0, run(VORLUND_INSTALLER))
      << test::readBytes(scratch / "out") << test::readBytes(scratch / "err");
  const std::string folder = "C:\\Program Files\\Vorlund";
  ASSERT_TRUE(fs::exists(folder + "\\vorlund-tray.exe"));
  RunningTray tray(true, folder + "\\vorlund-tray.exe");
  ASSERT_NE(nullptr, tray.window());
  tray.click(tray::kStartWithWindows);
  EXPECT_TRUE(runKeyHoldsTray());

  // The uninstaller runs a copy of itself and returns at once: its work shows later.
  ASSERT_EQ(0, run(folder + "\\uninstall.exe")) << test::readBytes(scratch / "err");
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(tray.process(), 120000));
  for (const std::uint64_t deadline = tickCount64() + 120000;
       fs::exists(folder) && tickCount64() < deadline;)
    sleepMilliseconds(200);
  EXPECT_FALSE(fs::exists(folder + "\\vorlund-tray.exe"));
  EXPECT_FALSE(runKeyHoldsTray());
  // The uninstaller's copy of itself may still hold the output files open.
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
}
#endif

}  // namespace
}  // namespace vorlund
