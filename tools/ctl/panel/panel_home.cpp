#include "panel_home.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "common/record_file.h"
#include "platform/environment.h"
#include "platform/platform.h"

#if !VORLUND_WINDOWS
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorlund {
namespace {

namespace fs = std::filesystem;

#if VORLUND_WINDOWS
// The user's local application data, which only the user (and administrators) may read.
std::optional<fs::path> privateFolder() {
  Path expanded;
  if (expandEnvironmentStrings("%LOCALAPPDATA%", expanded) == 0 || !expanded.valid())
    return std::nullopt;
  const fs::path folder = toFilesystemPath(expanded);
  if (displayPath(folder).find('%') != std::string::npos || !folder.is_absolute())
    return std::nullopt;
  std::error_code error;
  fs::create_directories(folder / "Vorlund", error);
  if (!fs::is_directory(folder / "Vorlund", error)) return std::nullopt;
  return folder / "Vorlund";
}
std::optional<fs::path> runtimeFolder() {
  return privateFolder();
}
std::optional<fs::path> stateFolder() {
  return privateFolder();
}
#else
// A folder of this user's that nobody else may enter, made 0700 when missing.
bool isPrivateFolder(const fs::path& folder) {
  mkdir(folder.c_str(), 0700);
  struct stat info {};
  return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 077) == 0;
}

std::optional<fs::path> runtimeFolder() {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && isPrivateFolder(runtime)) return fs::path(runtime);
  const Path temporary = logTempFolder();
  if (!temporary.valid()) return std::nullopt;
  return toFilesystemPath(temporary);
}

std::optional<fs::path> stateFolder() {
  const Path state = userStateFolder();
  if (!state.valid()) return std::nullopt;
  std::error_code error;
  fs::create_directories(toFilesystemPath(state), error);
  const fs::path folder = toFilesystemPath(state) / "vorlund";
  if (!isPrivateFolder(folder)) return std::nullopt;
  return folder;
}
#endif

// One file per data folder: FNV-1a of its name, so any name makes a plain file name.
std::optional<fs::path> identityFile(std::string_view dataFolder) {
  const std::optional<fs::path> folder = stateFolder();
  if (!folder) return std::nullopt;
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : dataFolder) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char name[32];
  const auto end = std::to_chars(name, name + sizeof name, hash, 16).ptr;
  return *folder / ("panel-" + std::string(name, end) + ".key");
}

bool isPrivateFile(const fs::path& path) {
#if VORLUND_WINDOWS
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error));
#else
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 077) == 0;
#endif
}

}  // namespace

bool writePrivateFile(const fs::path& path, std::string_view content) {
  const fs::path temporary = path.string() + ".new";
  std::error_code error;
  fs::remove(temporary, error);
#if VORLUND_WINDOWS
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) return false;
  }
#else
  // Made here, never through a name someone else placed.
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written =
      write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
      fsync(fd) == 0;
  close(fd);
  if (!written) {
    fs::remove(temporary, error);
    return false;
  }
#endif
  fs::rename(temporary, path, error);
  if (error) fs::remove(temporary, error);
  return !error;
}

std::optional<fs::path> writeLaunchPage(const PanelIdentity& identity) {
  const std::optional<fs::path> folder = runtimeFolder();
  if (!folder) return std::nullopt;
  const std::string url = identity.url();
  const fs::path page = *folder / ("vorlund-panel-" + std::to_string(identity.port) + ".html");
  const std::string html =
      "<!doctype html>\n<meta charset=\"utf-8\">\n<meta name=\"referrer\" "
      "content=\"no-referrer\">\n"
      "<meta http-equiv=\"refresh\" content=\"0; url=" +
      url +
      "\">\n"
      "<title>Vorlund control panel</title>\n<a href=\"" +
      url + "\">Open the Vorlund control panel</a>\n";
  if (!writePrivateFile(page, html)) return std::nullopt;
  return page;
}

std::optional<PanelIdentity> savedIdentity(std::string_view dataFolder) {
  const std::optional<fs::path> file = identityFile(dataFolder);
  if (!file || !isPrivateFile(*file)) return std::nullopt;
  std::ifstream in(*file);
  unsigned port = 0;
  PanelIdentity identity;
  if (!(in >> port >> identity.token) || port == 0 || port > 65535 || identity.token.size() != 32 ||
      identity.token.find_first_not_of("0123456789abcdef") != std::string::npos)
    return std::nullopt;
  identity.port = static_cast<std::uint16_t>(port);
  return identity;
}

bool saveIdentity(std::string_view dataFolder, const PanelIdentity& identity) {
  const std::optional<fs::path> file = identityFile(dataFolder);
  return file && writePrivateFile(*file, std::to_string(identity.port) + " " + identity.token +
                                             "\n" + std::string(dataFolder) + "\n");
}

}  // namespace vorlund
