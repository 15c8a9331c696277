// Layer: platform
// A folder or file with an explicit security descriptor, given as SDDL: created with it, or,
// where it exists, given its owner and protected access list. A folder that is a link (junction
// or symbolic link) is refused, so the descriptor never lands on whatever it points at, and so
// is one that holds a link or a second name of a file, which could lead what writes there
// elsewhere. Read back as SDDL for checks. Windows only; elsewhere ERROR_NOT_SUPPORTED.
#pragma once

#include <string>

#include "platform/error_codes.h"
#include "platform/path.h"

namespace vorlund {

// ConvertStringSecurityDescriptorToSecurityDescriptorW, then CreateDirectoryW with it; on
// ERROR_ALREADY_EXISTS the folder is opened as itself and held, given owner and DACL
// (protected), and then its entries are checked: every entry must be a folder or a file with
// one name, none a link. kErrorReparsePoint for a folder that is a link or holds one,
// ERROR_TOO_MANY_LINKS for a file with another name elsewhere, ERROR_DIRECTORY for a file
// where the folder should be; `refused` names the folder or the entry at fault.
DWORD createSecuredFolder(const Path& folder, const char16_t* sddl, Path& refused);
// A file with an explicit security descriptor: created empty with it where missing (`created`
// true); where it exists, opened as itself and given the owner and protected access list. A
// link, a folder or a file with a second name is refused as createSecuredFolder refuses them.
DWORD createSecuredFile(const Path& file, const char16_t* sddl, bool& created);
// GetFileSecurityW (owner, group, DACL) and ConvertSecurityDescriptorToStringSecurityDescriptorW.
DWORD readSecurityDescriptor(const Path& path, std::u16string& sddl);

}  // namespace vorlund
