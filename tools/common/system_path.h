// The system PATH as the installer changes it: the install folder appended as one entry, and
// taken out again so that the value is exactly what it was. Entries are compared without
// regard to case, as Windows compares folder names.
#pragma once

#include <string>
#include <string_view>

#include "platform/error_codes.h"

namespace vorlund {

// Under HKEY_LOCAL_MACHINE: where Windows keeps the system-wide environment.
inline constexpr char16_t kSystemEnvironmentKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// `path` with `folder` as its last entry; unchanged when an entry names it already. After a
// trailing ';' the entry is added with its own ';' after it, so that withoutPathEntry can
// give back the same text.
std::u16string withPathEntry(std::u16string_view path, std::u16string_view folder);
// `path` without the first entry naming `folder`, and with one ';' beside it (the one after
// it, else the one before it); unchanged when no entry names it.
std::u16string withoutPathEntry(std::u16string_view path, std::u16string_view folder);

// Reads the Path value of kSystemEnvironmentKey, changes it as above and writes it back with
// its type (REG_EXPAND_SZ, or REG_SZ) and the bytes after its text as they were. `changed`
// tells whether anything was written. Returns 0 or the Win32 error code.
DWORD addToSystemPath(std::u16string_view folder, bool& changed);
DWORD removeFromSystemPath(std::u16string_view folder, bool& changed);

}  // namespace vorlund
