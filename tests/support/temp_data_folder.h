// Real files for the tests: a fresh ProgramData folder per test, made this process's
// %ProgramData% so that dataFolder() lies inside it, and small helpers to write files and
// read the diagnostic log back.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/path.h"
#include "platform/system.h"

namespace vorlund::test {

namespace fs = std::filesystem;

inline fs::path toFsPath(const Path& path) {
  return fs::path(path.c_str());
}

// The Vorlund folder itself is created only when asked for: its absence is a case to test.
class TempDataFolder {
 public:
  explicit TempDataFolder(bool createDataFolder = true) {
    static std::atomic<int> serial{0};
    std::string name = "vorlund-test-";
    name += std::to_string(currentProcessId());
    name += '-';
    name += std::to_string(serial.fetch_add(1));
    name += '-';
    name += std::to_string(tickCount64());
    root_ = fs::temp_directory_path() / name;
    fs::create_directories(root_);
    setEnvironmentVariable("ProgramData", root_.string().c_str());
    // The log's Temp fallback lies inside this folder too: no test writes outside its own.
    if (const char* tmp = std::getenv("TMPDIR")) previousTmp_ = tmp;
    setEnvironmentVariable("TMPDIR", root_.string().c_str());
    if (createDataFolder) create();
  }
  ~TempDataFolder() {
    setEnvironmentVariable("TMPDIR", previousTmp_.empty() ? nullptr : previousTmp_.c_str());
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  TempDataFolder(const TempDataFolder&) = delete;
  TempDataFolder& operator=(const TempDataFolder&) = delete;

  void create() const { fs::create_directories(dataFolder()); }
  const fs::path& programData() const { return root_; }
  fs::path dataFolder() const { return root_ / "Vorlund"; }
  fs::path file(const char* name) const { return dataFolder() / name; }

 private:
  fs::path root_;
  std::string previousTmp_;
};

// Polls until `done` holds, for effects that other threads bring about through files;
// running out of time is a fault, not a measurement.
template <typename Condition>
bool eventually(Condition done) {
  for (int waited = 0; waited < 15000 && !done(); waited += 10) sleepMilliseconds(10);
  return done();
}

inline void writeBytes(const fs::path& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The file's bytes from `from` on (none for a missing file), read in one piece of exactly
// that size, so a test that watches its own peak memory sees the same for every file of a size.
inline std::string readBytes(const fs::path& path, std::uintmax_t from = 0) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size - std::min(from, size)), '\0');
  in.seekg(static_cast<std::streamoff>(size - text.size()));
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

// The messages this process wrote into a log file, in order, without stamp and line end.
inline std::vector<std::string> logMessages(const fs::path& path) {
  const std::string text = readBytes(path);
  // Appended piecewise: GCC 12 misreads "text" + std::string at -O3 (-Wrestrict).
  std::string mark = "[";
  mark += std::to_string(currentProcessId());
  mark += "] ";
  std::vector<std::string> messages;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t at = line.find(mark);
    if (at != std::string::npos) messages.push_back(line.substr(at + mark.size()));
    start = end + 2;
  }
  return messages;
}

// The messages this process wrote into the Temp fallback's log, across one rotation (under
// Wine other processes write there too).
inline std::vector<std::string> tempLogMessages() {
  const fs::path folder = toFsPath(logTempFolder());
  std::vector<std::string> messages = logMessages(folder / "apo.old.log");
  const std::vector<std::string> current = logMessages(folder / "apo.log");
  messages.insert(messages.end(), current.begin(), current.end());
  return messages;
}

}  // namespace vorlund::test
