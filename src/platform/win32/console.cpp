// Layer: platform
#include "platform/console.h"

#include <windows.h>

namespace vorlund {
namespace {

// Older MinGW headers lack it.
constexpr DWORD kVirtualTerminalProcessing = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING

}  // namespace

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
