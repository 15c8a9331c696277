// Layer: platform
#include "platform/module.h"

#include <windows.h>

namespace {

// Saved at process attach; null in a program, where GetModuleFileNameW then names the
// program itself.
HMODULE moduleHandle = nullptr;

}  // namespace

// The library's entry routine. Thread attach and detach notifications are switched off,
// and nothing is done at detach.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleHandle = module;
    DisableThreadLibraryCalls(module);
  }
  return TRUE;
}

namespace vorlund {

std::uint32_t moduleFileName(char16_t* buffer, std::uint32_t capacity, DWORD& error) noexcept {
  SetLastError(ERROR_SUCCESS);
  const DWORD n = GetModuleFileNameW(moduleHandle, reinterpret_cast<wchar_t*>(buffer), capacity);
  error = n == 0 || n >= capacity ? GetLastError() : ERROR_SUCCESS;
  // Older systems cut the path without saying so.
  if (n >= capacity && error == ERROR_SUCCESS) error = ERROR_INSUFFICIENT_BUFFER;
  return n;
}

}  // namespace vorlund
