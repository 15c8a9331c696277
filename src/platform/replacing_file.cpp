// Layer: platform
#include "platform/replacing_file.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace vorlund {
namespace {

// Tries with a fresh name when one is taken; a name taken 100 times in a row is an attack
// or a broken random source.
constexpr int kAttempts = 100;

}  // namespace

ReplacingFile::~ReplacingFile() {
  discard();
}

DWORD ReplacingFile::create(const std::filesystem::path& target) {
  discard();
  target_ = target;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kAttempts && error == ERROR_FILE_EXISTS; ++attempt) {
    temporary_ = temporaryNameBeside(target);
    error = createNewFile(temporary_, handle_);
  }
  if (error != ERROR_SUCCESS) temporary_.clear();
  return error;
}

std::filesystem::path temporaryNameBeside(const std::filesystem::path& target) {
  std::random_device entropy;
  const std::uint64_t tag = (std::uint64_t{entropy()} << 32) ^ entropy();
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".vorlund-%016llx.tmp",
                static_cast<unsigned long long>(tag));
  std::filesystem::path name = ".";
  name += target.filename();
  name += suffix;
  return target.parent_path() / name;
}

DWORD replaceFileContent(const std::filesystem::path& target, std::string_view content) {
  ReplacingFile file;
  DWORD error = file.create(target);
  if (error == ERROR_SUCCESS) error = file.write(content.data(), content.size());
  if (error == ERROR_SUCCESS) error = file.commit();
  return error;
}

}  // namespace vorlund
