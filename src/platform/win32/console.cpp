// Layer: platform
#include "platform/console.h"

#include <windows.h>

#include <iostream>
#include <string>

namespace vorlund {
namespace {

// Older MinGW headers lack it.
constexpr DWORD kVirtualTerminalProcessing = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING

}  // namespace

Utf8Console::Utf8Console() noexcept : previous_(GetConsoleOutputCP()) {
  // 0: no console at all.
  if (previous_ != 0 && previous_ != CP_UTF8) SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console() {
  std::cout.flush();
  std::cerr.flush();
  if (previous_ != 0 && previous_ != CP_UTF8) SetConsoleOutputCP(previous_);
}

void writeOutputForPrograms(std::string_view utf8) {
  std::wstring text(1, L'\xFEFF');
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), converted.data(),
                        n);
  for (const wchar_t c : converted) {
    if (c == L'\n') text.push_back(L'\r');
    text.push_back(c);
  }
  std::cout.flush();
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
            static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

bool standardOutputIsTerminal() noexcept {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool enableTerminalEscapes() noexcept {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  SetConsoleOutputCP(CP_UTF8);
  return SetConsoleMode(output, mode | kVirtualTerminalProcessing) != 0;
}

}  // namespace vorlund
