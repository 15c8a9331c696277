// Layer: platform
#include "platform/path.h"

namespace vorlund {

Path Path::fromNative(const Char* text) noexcept {
  Path path;
  std::size_t n = 0;
  while (text[n] != 0) {
    if (n + 1 >= kCapacity) {
      path.valid_ = false;
      return path;
    }
    path.text_[n] = text[n];
    ++n;
  }
  path.text_[n] = 0;
  path.length_ = n;
  return path;
}

Path& Path::append(std::string_view name) noexcept {
  if (!valid_) return *this;
  if (length_ + 1 + name.size() + 1 > kCapacity) {
    valid_ = false;
    return *this;
  }
  text_[length_++] = kSeparator;
  for (char c : name) text_[length_++] = static_cast<Char>(static_cast<unsigned char>(c));
  text_[length_] = 0;
  return *this;
}

Path Path::parent() const noexcept {
  Path result = *this;
  for (std::size_t i = length_; i > 0; --i) {
    if (text_[i - 1] == kSeparator) {
      result.length_ = i - 1;
      result.text_[i - 1] = 0;
      break;
    }
  }
  return result;
}

}  // namespace vorlund
