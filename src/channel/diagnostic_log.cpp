// Layer: channel
#include "channel/diagnostic_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/system.h"

namespace vorlund {
namespace {

// The message buffer (511 characters and the terminator) and the line buffer, which always
// holds the time stamp, the bracketed process id, the longest message and the line end.
constexpr std::size_t kMessageBytes = 512;
constexpr std::size_t kLineBytes = 640;
// A log larger than this (256 KiB) is moved to apo.old.log before the next line is written.
constexpr std::uint64_t kRotationBytes = 0x40000;

// Rotates an oversized log, then appends the line. Returns 0, or the error that kept the file
// from being opened.
DWORD appendLine(const Path& folder, const char* line, std::uint32_t length) noexcept {
  Path logPath = folder;
  logPath.append("apo.log");
  Path oldPath = folder;
  oldPath.append("apo.old.log");
  File file;
  DWORD error = file.open(logPath, FileAccess::appendAlways);
  // Rotated only in a folder the open accepted, so a linked folder has nothing renamed in it.
  std::uint64_t size = 0;
  if (error == ERROR_SUCCESS && queryFileSize(logPath, size) && size > kRotationBytes) {
    file.close();
    moveFileReplacing(logPath, oldPath);
    error = file.open(logPath, FileAccess::appendAlways);
  }
  if (error == ERROR_SUCCESS) file.write(line, length);
  return error;
}

// Stamps `message` into `line` (kLineBytes); returns the length written, 0 on failure.
std::uint32_t stampLine(char* line, const char* message) noexcept {
  const LocalTime t = localTime();
  const int n = std::snprintf(line, kLineBytes, "%04d-%02d-%02d %02d:%02d:%02d [%lu] %s\r\n",
                              t.year, t.month, t.day, t.hour, t.minute, t.second,
                              static_cast<unsigned long>(currentProcessId()), message);
  if (n <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<std::size_t>(n, kLineBytes - 1));
}

}  // namespace

DataFolderChoice chooseDataFolder() noexcept {
  Path folder;
  const DWORD n = expandEnvironmentStrings("%ProgramData%", folder);
  // A ProgramData the environment names is always taken, as on Windows.
  if (n != 0 && n <= Path::kCapacity && !folder.empty() && folder.front() != '%') {
    folder.append("Vorlund");
    return {folder, DataFolderScope::systemWide};
  }
  folder = programDataFallback();
  folder.append("Vorlund");
  std::uint64_t size = 0;
  if (queryFileSize(folder, size)) return {folder, DataFolderScope::systemWide};
  Path user = userStateFolder();
  user.append("vorlund");
  if (!user.valid()) return {folder, DataFolderScope::systemWide};
  return {user, DataFolderScope::perUser};
}

Path dataFolder() noexcept {
  return chooseDataFolder().folder;
}

void logLine(const char* format, ...) noexcept {
  char message[kMessageBytes];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);

  char line[kLineBytes];
  const std::uint32_t length = stampLine(line, message);
  if (length == 0) return;

  const DWORD error = appendLine(dataFolder(), line, length);
  if (error == ERROR_SUCCESS) return;
  const Path fallback = logTempFolder();
  if (appendLine(fallback, line, length) != ERROR_SUCCESS) return;
  // A log the data folder holds but that may not be written through is worth a word.
  if (const char* reason = refusedFileReason(error)) {
    std::snprintf(message, sizeof message, "apo.log in the data folder refused: %s", reason);
    if (const std::uint32_t n = stampLine(line, message); n != 0) appendLine(fallback, line, n);
  }
}

}  // namespace vorlund
