#include "common/system_error_text.h"

namespace vorlund {
namespace {

struct ErrorWords {
  DWORD error;
  const char* words;
};

// The codes the platform layer reports, on Windows and as mapped from errno elsewhere.
constexpr ErrorWords kErrorWords[] = {
    {ERROR_INVALID_FUNCTION, "not supported here"},
    {ERROR_FILE_NOT_FOUND, "no such file"},
    {ERROR_PATH_NOT_FOUND, "no such folder"},
    {ERROR_TOO_MANY_OPEN_FILES, "too many open files"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_INVALID_HANDLE, "not an open file"},
    {ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
    {ERROR_INVALID_DATA, "invalid data"},
    {ERROR_OUTOFMEMORY, "out of memory"},
    {ERROR_WRITE_PROTECT, "the medium is write-protected"},
    {ERROR_GEN_FAILURE, "the device failed"},
    {ERROR_SHARING_VIOLATION, "the file is in use by another program"},
    {ERROR_LOCK_VIOLATION, "the file is locked by another program"},
    {ERROR_HANDLE_EOF, "unexpected end of file"},
    {ERROR_NOT_SUPPORTED, "not supported"},
    {ERROR_FILE_EXISTS, "the file exists"},
    {ERROR_INVALID_PARAMETER, "invalid argument"},
    {ERROR_BROKEN_PIPE, "the other end has closed"},
    {ERROR_DISK_FULL, "the disk is full"},
    {ERROR_INSUFFICIENT_BUFFER, "a name or value is too long"},
    {ERROR_MOD_NOT_FOUND, "the library or one it needs was not found"},
    {ERROR_PROC_NOT_FOUND, "the library lacks an entry point"},
    {ERROR_BUSY, "the resource is busy"},
    {ERROR_ALREADY_EXISTS, "it exists already"},
    {ERROR_FILENAME_EXCED_RANGE, "the name is too long"},
    {ERROR_DIRECTORY, "not a folder"},
    {ERROR_NOT_FOUND, "not found"},
    {ERROR_NOT_ENOUGH_QUOTA, "over the quota"},
};

}  // namespace

std::string systemErrorText(DWORD error) {
  const char* words = "system error";
  for (const ErrorWords& entry : kErrorWords)
    if (entry.error == error) words = entry.words;
  return std::string(words) + " (error " + std::to_string(error) + ")";
}

}  // namespace vorlund
