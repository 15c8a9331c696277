// Layer: platform
#include "platform/shared_library.h"

#include <windows.h>

namespace vorlund {

DWORD SharedLibrary::open(const Path& path) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  const HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
  }
  handle_ = module;
  return ERROR_SUCCESS;
}

void SharedLibrary::close() noexcept {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const char* name) const noexcept {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace vorlund
