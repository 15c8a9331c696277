// Layer: platform
#include "platform/environment.h"

#include <windows.h>

#include <string>

namespace vorlund {
namespace {

// Environment values are not paths: any length goes.
std::wstring widen(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

DWORD expandEnvironmentStrings(std::string_view text, Path& out) noexcept {
  const Path source = Path::fromUtf8(text);
  if (!source.valid()) return 0;
  wchar_t buffer[Path::kCapacity];
  const DWORD n = ExpandEnvironmentStringsW(source.c_str(), buffer, Path::kCapacity);
  if (n != 0 && n <= Path::kCapacity) out = Path::fromNative(buffer);
  return n;
}

Path programDataFallback() noexcept {
  return Path::fromNative(L"C:\\ProgramData");
}

Path userStateFolder() noexcept {
  return Path::invalid();
}

Path windowsTempFolder() noexcept {
  wchar_t buffer[Path::kCapacity];
  const UINT n = GetWindowsDirectoryW(buffer, Path::kCapacity);
  if (n == 0 || n >= Path::kCapacity) return Path::invalid();
  Path folder = Path::fromNative(buffer);
  folder.append("Temp");
  return folder;
}

Path logTempFolder() noexcept {
  return windowsTempFolder();
}

void announceEnvironmentChange() noexcept {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &ignored);
}

std::optional<std::string> environmentVariable(const char* name) noexcept {
  try {
    const std::wstring wideName = widen(name);
    const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    return std::string(value.begin(), value.begin() + length);  // ASCII
  } catch (...) {
    return std::nullopt;
  }
}

bool setEnvironmentVariable(const char* name, const char* value) noexcept {
  try {
    const std::wstring wideName = widen(name);
    if (value == nullptr) return SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0;
    return SetEnvironmentVariableW(wideName.c_str(), widen(value).c_str()) != 0;
  } catch (...) {
    return false;
  }
}

}  // namespace vorlund
