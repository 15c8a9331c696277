// Layer: platform
#include "platform/secured_folder.h"

#include "platform/win32/security_descriptor.h"

#include <string>
#include <string_view>

namespace vorlund {
namespace {

constexpr SECURITY_INFORMATION kOwnerAndAccess =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
constexpr SECURITY_INFORMATION kReadBack =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The attributes of `path` itself and its number of names; a link is opened as itself.
// Wine opens what a link points to even so, but names the link in the path's attributes.
DWORD inspect(const Path& path, DWORD access, HANDLE& handle, DWORD& attributes,
              DWORD& links) noexcept {
  handle =
      CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD named = GetFileAttributesW(path.c_str());
  if (!GetFileInformationByHandle(handle, &info) || named == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return error;
  }
  attributes = info.dwFileAttributes | (named & FILE_ATTRIBUTE_REPARSE_POINT);
  links = info.nNumberOfLinks;
  return ERROR_SUCCESS;
}

// Every entry of the folder is a file with one name, or a folder, and no link of any kind.
DWORD checkEntries(const Path& folder, Path& refused) {
  Path pattern = folder;
  pattern.append("*");
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    const Path entry =
        Path::fromNative((std::wstring(folder.c_str()) + L'\\' + found.cFileName).c_str());
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD attributes = found.dwFileAttributes;
    DWORD links = 1;
    error = inspect(entry, FILE_READ_ATTRIBUTES, handle, attributes, links);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (error == ERROR_SUCCESS &&
        ((attributes | found.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      error = kErrorReparsePoint;
    else if (error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && links != 1)
      error = ERROR_TOO_MANY_LINKS;
    if (error != ERROR_SUCCESS) refused = entry;
  } while (error == ERROR_SUCCESS && FindNextFileW(search, &found));
  FindClose(search);
  return error;
}

// Opens an existing folder (when `refused` is given) or file as itself, held without sharing
// deletion so that the entry checked is the entry secured; refuses a link, the other kind of
// entry and a file with a second name, then gives it the descriptor's owner and protected
// access list. A folder's entries are checked after that, so nobody else can add one later.
DWORD secureExisting(const Path& path, PSECURITY_DESCRIPTOR descriptor, Path* refused) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD found = 0;
  DWORD links = 0;
  DWORD error = inspect(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES, handle,
                        found, links);
  if (error != ERROR_SUCCESS) return error;
  const bool folder = (found & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((found & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    error = kErrorReparsePoint;
  else if (folder != (refused != nullptr))
    error = ERROR_DIRECTORY;
  else if (!folder && links != 1)
    error = ERROR_TOO_MANY_LINKS;
  else if (!SetKernelObjectSecurity(handle, kOwnerAndAccess, descriptor))
    error = GetLastError();
  else if (folder)
    error = checkEntries(path, *refused);
  CloseHandle(handle);
  return error;
}

}  // namespace

DWORD createSecuredFolder(const Path& folder, const char16_t* sddl, Path& refused) {
  refused = folder;
  if (!folder.valid()) return ERROR_INVALID_PARAMETER;
  const SecurityDescriptor descriptor(sddl);
  if (descriptor.error != ERROR_SUCCESS) return descriptor.error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  DWORD error = ERROR_SUCCESS;
  if (!CreateDirectoryW(folder.c_str(), &attributes)) {
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) error = secureExisting(folder, descriptor.get(), &refused);
  }
  return error;
}

DWORD createSecuredFile(const Path& file, const char16_t* sddl, bool& created) {
  created = false;
  if (!file.valid()) return ERROR_INVALID_PARAMETER;
  const SecurityDescriptor descriptor(sddl);
  if (descriptor.error != ERROR_SUCCESS) return descriptor.error;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const HANDLE handle =
      CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = ERROR_SUCCESS;
  if (handle != INVALID_HANDLE_VALUE) {
    created = true;
    CloseHandle(handle);
  } else if ((error = GetLastError()) == ERROR_FILE_EXISTS) {
    error = secureExisting(file, descriptor.get(), nullptr);
  }
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
