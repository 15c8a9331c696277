#include "common/shared_file.h"

#include <cstdio>

#include "common/system_error_text.h"
#include "platform/mapping_guard.h"

namespace vorlund {
namespace {

// The magic as the four characters it spells, unprintable ones shown as '.'.
std::string magicText(std::uint32_t magic) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((magic >> (8 * i)) & 0xFF);
    text += c >= 0x20 && c < 0x7F ? c : '.';
  }
  return text;
}

}  // namespace

SharedFile::State SharedFile::open(const Path& path, bool readOnly) {
  if (state_ != State::closed) return state();
  pathText_ = path.toUtf8();
  readOnly_ = readOnly;
  error_ = file_.open(path, readOnly ? FileAccess::readExisting : FileAccess::readWriteExisting);
  if (error_ == ERROR_FILE_NOT_FOUND || error_ == ERROR_PATH_NOT_FOUND) {
    return state_ = State::missing;
  }
  if (error_ == ERROR_ACCESS_DENIED) return state_ = State::noPermission;
  if (error_ != ERROR_SUCCESS) return state_ = State::failed;

  // Mapping a shorter file would grow it, and the effect may still use the file as it is.
  if (!queryFileSize(path, fileBytes_)) {
    error_ = ERROR_GEN_FAILURE;
    return state_ = State::failed;
  }
  if (fileBytes_ < SharedBlock::kSize) return state_ = State::tooShort;
  error_ = readOnly ? mapping_.createReadOnly(file_, SharedBlock::kSize)
                    : mapping_.create(file_, SharedBlock::kSize);
  if (error_ == ERROR_SUCCESS) error_ = mapping_.mapView(SharedBlock::kSize);
  if (error_ != ERROR_SUCCESS) return state_ = State::failed;

  SharedBlock& block = *static_cast<SharedBlock*>(mapping_.view());
  magic_ = sharedWord(block.magic).load();
  version_ = sharedWord(block.version).load();
  size_ = sharedWord(block.size).load();
  if (magic_ != SharedBlock::kMagic) return state_ = State::wrongMagic;
  if (version_ != SharedBlock::kVersion) return state_ = State::wrongVersion;
  if (size_ != SharedBlock::kSize) return state_ = State::wrongSize;
  block_ = &block;
  guardView(block_, SharedBlock::kSize);
  return state_ = State::mapped;
}

SharedFile::State SharedFile::state() const noexcept {
  return state_ == State::mapped && viewWasCut(block_) ? State::cutShort : state_;
}

void SharedFile::close() noexcept {
  if (block_ != nullptr) unguardView(block_);
  block_ = nullptr;
  mapping_.close();
  file_.close();
  state_ = State::closed;
}

bool SharedFile::foreign() const noexcept {
  return state_ == State::tooShort || state_ == State::wrongMagic ||
         state_ == State::wrongVersion || state_ == State::wrongSize;
}

std::string SharedFile::problem() const {
  const std::string file = pathText_;
  const std::string notOurs = file + " is not a Vorlund shared block: ";
  char detail[160];
  switch (state()) {
    case State::cutShort: {
      std::uint64_t bytes = 0;
      std::snprintf(detail, sizeof detail, "%llu bytes",
                    static_cast<unsigned long long>(
                        queryFileSize(Path::fromUtf8(pathText_), bytes) ? bytes : 0));
      return file + " was cut short while in use (it is now " + detail + ", a block needs " +
             std::to_string(SharedBlock::kSize) +
             "): someone who may write the data folder truncated it. A running stream keeps "
             "its own view; a stream started anew makes the file again";
    }
    case State::closed:
    case State::mapped:
      return {};
    case State::missing:
      return file +
             " does not exist: no stream has opened the shared block here (a stream "
             "that could not create it runs in parameter-file mode, reading params.bin)";
    case State::noPermission:
      return "no permission to open " + file +
             (readOnly_ ? " for reading: " + systemErrorText(ERROR_ACCESS_DENIED) +
                              "; run as a user who may read "
                        : " for reading and writing: " + systemErrorText(ERROR_ACCESS_DENIED) +
                              "; run as a user who may write ") +
             "the data folder, or check that it is a file and not a folder";
    case State::tooShort:
      std::snprintf(detail, sizeof detail, "it is %llu bytes long, a block needs %u",
                    static_cast<unsigned long long>(fileBytes_), SharedBlock::kSize);
      return notOurs + detail;
    case State::wrongMagic:
      if (magic_ == 0)
        return notOurs + "its header is empty (a stream may be creating it right now; try again)";
      return notOurs + "its magic is \"" + magicText(magic_) + "\", expected \"VRLS\"";
    case State::wrongVersion:
      std::snprintf(detail, sizeof detail, "its layout version is %u, this program knows %u",
                    version_, SharedBlock::kVersion);
      return notOurs + detail;
    case State::wrongSize:
      std::snprintf(detail, sizeof detail, "its header gives a size of %u bytes, expected %u",
                    size_, SharedBlock::kSize);
      return notOurs + detail;
    case State::failed:
      return file + " cannot be used: " + systemErrorText(error_);
  }
  return {};
}

}  // namespace vorlund
