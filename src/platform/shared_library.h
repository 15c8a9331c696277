// Layer: platform
// A dynamic library loaded into this process and the addresses of its exports, as a host
// loads the effect: LoadLibraryW and GetProcAddress on Windows, dlopen and dlsym elsewhere.
#pragma once

#include "platform/error_codes.h"
#include "platform/path.h"

namespace vorlund {

class SharedLibrary {
 public:
  SharedLibrary() noexcept = default;
  // Unloads the library; nothing from it may be used afterwards.
  ~SharedLibrary() { close(); }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Returns 0 or the Win32 error code (ERROR_MOD_NOT_FOUND when the loader gives none).
  DWORD open(const Path& path) noexcept;
  void close() noexcept;
  bool isOpen() const noexcept { return handle_ != nullptr; }

  // The address of an export by name, or null.
  void* symbol(const char* name) const noexcept;

 private:
  void* handle_ = nullptr;
};

}  // namespace vorlund
