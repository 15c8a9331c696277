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

// Rotates an oversized log, then appends the line; false when the file cannot be opened.
bool appendLine(const Path& folder, const char* line, std::uint32_t length) noexcept {
  Path logPath = folder;
  logPath.append("apo.log");
  Path oldPath = folder;
  oldPath.append("apo.old.log");
  std::uint64_t size = 0;
  if (queryFileSize(logPath, size) && size > kRotationBytes) moveFileReplacing(logPath, oldPath);
  File file;
  if (file.open(logPath, FileAccess::appendAlways) != ERROR_SUCCESS) return false;
  file.write(line, length);
  return true;
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

  const LocalTime t = localTime();
  char line[kLineBytes];
  const int n = std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d [%lu] %s\r\n",
                              t.year, t.month, t.day, t.hour, t.minute, t.second,
                              static_cast<unsigned long>(currentProcessId()), message);
  if (n <= 0) return;
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(n, sizeof line - 1));

  if (appendLine(dataFolder(), line, length)) return;
  appendLine(windowsTempFolder(), line, length);
}

}  // namespace vorlund
