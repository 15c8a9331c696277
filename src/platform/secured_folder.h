// A folder with an explicit security descriptor, given as SDDL: created with it, or, where the
// folder exists, given its owner and protected access list. A folder that is a link (junction
// or symbolic link) is refused, so the descriptor never lands on whatever it points at. Read
// back as SDDL for checks. Windows only; elsewhere ERROR_NOT_SUPPORTED.
#pragma once

#include <string>

#include "platform/error_codes.h"
#include "platform/path.h"

namespace vorlund {

// ERROR_REPARSE_POINT_ENCOUNTERED, which not every SDK header names.
constexpr DWORD kErrorReparsePoint = 4395;

// ConvertStringSecurityDescriptorToSecurityDescriptorW, then CreateDirectoryW with it; on
// ERROR_ALREADY_EXISTS, SetFileSecurityW of owner and DACL (protected) on the folder.
// kErrorReparsePoint for a folder that is a link, ERROR_DIRECTORY for a
// file of that name.
DWORD createSecuredFolder(const Path& folder, const char16_t* sddl) noexcept;
// GetFileSecurityW (owner, group, DACL) and ConvertSecurityDescriptorToStringSecurityDescriptorW.
DWORD readSecurityDescriptor(const Path& path, std::u16string& sddl);

}  // namespace vorlund
