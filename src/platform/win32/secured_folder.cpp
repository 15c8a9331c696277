#include "platform/secured_folder.h"

// windows.h first: sddl.h builds on it.
#include <windows.h>

#include <sddl.h>

namespace vorlund {
namespace {

constexpr SECURITY_INFORMATION kOwnerAndAccess =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION kReadBack =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

DWORD createSecuredFolder(const Path& folder, const char16_t* sddl) noexcept {
  if (!folder.valid()) return ERROR_INVALID_PARAMETER;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<const wchar_t*>(sddl),
                                                            SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  DWORD error = ERROR_SUCCESS;
  if (!CreateDirectoryW(folder.c_str(), &attributes)) {
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
      const DWORD found = GetFileAttributesW(folder.c_str());
      if (found == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
      } else if ((found & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = kErrorReparsePoint;
      } else if ((found & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ERROR_DIRECTORY;
      } else {
        error = SetFileSecurityW(folder.c_str(), kOwnerAndAccess, descriptor) ? ERROR_SUCCESS
                                                                              : GetLastError();
      }
    }
  }
  LocalFree(descriptor);
  return error;
}

DWORD readSecurityDescriptor(const Path& path, std::u16string& sddl) {
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), kReadBack, nullptr, 0, &size);
  if (size == 0) return GetLastError();
  std::string buffer(size, '\0');
  if (!GetFileSecurityW(path.c_str(), kReadBack, buffer.data(), size, &size)) return GetLastError();
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer.data(), SDDL_REVISION_1,
                                                            kReadBack, &text, nullptr))
    return GetLastError();
  sddl = reinterpret_cast<const char16_t*>(text);
  LocalFree(text);
  return ERROR_SUCCESS;
}

}  // namespace vorlund
