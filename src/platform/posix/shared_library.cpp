// Layer: platform
#include "platform/shared_library.h"

#include <dlfcn.h>

namespace vorlund {

// RTLD_LOCAL keeps the library's symbols to itself, as a Windows module's are.
DWORD SharedLibrary::open(const Path& path) noexcept {
  close();
  if (!path.valid()) return ERROR_FILENAME_EXCED_RANGE;
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return handle_ != nullptr ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND;
}

void SharedLibrary::close() noexcept {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* SharedLibrary::symbol(const char* name) const noexcept {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

}  // namespace vorlund
