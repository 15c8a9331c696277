// Layer: platform
#include "platform/environment.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <cstring>

namespace vorlund {

// Follows ExpandEnvironmentStringsW: %NAME% of a defined variable is replaced, anything else
// (an undefined name, a lone %) is copied as it stands.
DWORD expandEnvironmentStrings(std::string_view text, Path& out) noexcept {
  char buffer[Path::kCapacity];
  std::size_t needed = 0;  // characters of the result so far, whether or not they fit
  const auto put = [&](std::string_view piece) {
    for (char c : piece) {
      if (needed < Path::kCapacity) buffer[needed] = c;
      ++needed;
    }
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string_view::npos;
    if (close == std::string_view::npos) {
      put(text.substr(i, 1));
      ++i;
      continue;
    }
    char name[Path::kCapacity];
    const std::string_view key = text.substr(i + 1, close - i - 1);
    const char* value = nullptr;
    if (!key.empty() && key.size() < sizeof name) {
      std::memcpy(name, key.data(), key.size());
      name[key.size()] = 0;
      value = getenv(name);
    }
    if (value != nullptr) {
      put(value);
      i = close + 1;
    } else {
      put(text.substr(i, close - i));
      i = close;
    }
  }
  const std::size_t withTerminator = needed + 1;
  if (withTerminator <= Path::kCapacity) {
    buffer[needed] = 0;
    out = Path::fromNative(buffer);
  }
  return static_cast<DWORD>(withTerminator);
}

namespace {

// A folder of the XDG base directories: `variable` when it is an absolute path, else
// $HOME/`first`[/`second`]; invalid when neither gives one.
Path xdgFolder(const char* variable, const char* first, const char* second) noexcept {
  const char* given = getenv(variable);
  if (given != nullptr && given[0] == '/') return Path::fromUtf8(given);
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] != '/') return Path::invalid();
  Path folder = Path::fromUtf8(home);
  folder.append(first);
  if (second != nullptr) folder.append(second);
  return folder;
}

}  // namespace

Path programDataFallback() noexcept {
  return Path::fromUtf8("/var/lib");
}

Path userStateFolder() noexcept {
  return xdgFolder("XDG_STATE_HOME", ".local", "state");
}

Path windowsTempFolder() noexcept {
  return Path::fromUtf8("/tmp");
}

Path logTempFolder() noexcept {
  const char* base = getenv("TMPDIR");
  if (base == nullptr || base[0] != '/') base = "/tmp";
  char folder[Path::kCapacity];
  const int n = std::snprintf(folder, sizeof folder, "%s/vorlund-%lu", base,
                              static_cast<unsigned long>(geteuid()));
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof folder) return Path::invalid();
  mkdir(folder, 0700);  // an existing one is checked like a new one
  struct stat info {};
  if (lstat(folder, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0)
    return Path::invalid();
  return Path::fromNative(folder);
}

void announceEnvironmentChange() noexcept {}

std::optional<std::string> environmentVariable(const char* name) noexcept {
  try {
    if (const char* value = getenv(name)) return std::string(value);
  } catch (...) {
  }
  return std::nullopt;
}

bool setEnvironmentVariable(const char* name, const char* value) noexcept {
  return (value != nullptr ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

}  // namespace vorlund
