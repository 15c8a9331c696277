// Layer: platform
// A security descriptor parsed from SDDL text, freed with the object: for the files and folders
// the tools and the effect create with rules of their own.
#pragma once

// windows.h first: sddl.h builds on it.
#include <windows.h>

#include <sddl.h>

namespace vorlund {

struct SecurityDescriptor {
  // Parses `sddl`; a null `sddl` parses nothing and leaves get() null.
  explicit SecurityDescriptor(const char16_t* sddl) noexcept {
    if (sddl != nullptr &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(
            reinterpret_cast<const wchar_t*>(sddl), SDDL_REVISION_1, &descriptor, nullptr))
      error = GetLastError();
  }
  ~SecurityDescriptor() { LocalFree(descriptor); }
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR get() const noexcept { return descriptor; }

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = ERROR_SUCCESS;
};

}  // namespace vorlund
