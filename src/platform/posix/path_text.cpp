// Layer: platform
#include "platform/path.h"

namespace vorlund {

// Linux paths are bytes; UTF-8 passes through unchanged.
Path Path::fromUtf8(std::string_view text) noexcept {
  Path path;
  if (text.size() + 1 > kCapacity || text.find('\0') != std::string_view::npos) {
    path.valid_ = false;
    return path;
  }
  for (std::size_t i = 0; i < text.size(); ++i) path.text_[i] = text[i];
  path.text_[text.size()] = 0;
  path.length_ = text.size();
  return path;
}

std::string Path::toUtf8() const {
  return std::string(text_.data(), length_);
}

}  // namespace vorlund
