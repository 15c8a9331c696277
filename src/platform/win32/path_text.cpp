// Layer: platform
#include <windows.h>

#include "platform/path.h"

namespace vorlund {

Path Path::fromUtf8(std::string_view text) noexcept {
  Path path;
  if (text.empty()) return path;
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          path.text_.data(), static_cast<int>(kCapacity - 1));
  if (n <= 0) {
    path.valid_ = false;
    return path;
  }
  path.text_[static_cast<std::size_t>(n)] = 0;
  path.length_ = static_cast<std::size_t>(n);
  return path;
}

std::string Path::toUtf8() const {
  if (length_ == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(length_), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(length_), out.data(), n, nullptr,
                        nullptr);
  return out;
}

}  // namespace vorlund
