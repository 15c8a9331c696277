// Layer: platform
// A file-system path in the platform's own characters (UTF-16 on Windows, UTF-8 elsewhere),
// held in a fixed buffer of 260 characters as the Win32 file calls expect. Building a path
// never allocates; a path that would not fit is marked invalid and every call on it fails.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vorlund {

class Path {
 public:
#if VORLUND_WINDOWS
  using Char = wchar_t;
  static constexpr Char kSeparator = L'\\';
#else
  using Char = char;
  static constexpr Char kSeparator = '/';
#endif
  // MAX_PATH: characters including the terminating zero.
  static constexpr std::size_t kCapacity = 260;

  Path() noexcept = default;
  // An ASCII or UTF-8 text; invalid when it does not fit or does not convert.
  static Path fromUtf8(std::string_view text) noexcept;
  // The platform's own characters, as a Win32 call or the C library wrote them.
  static Path fromNative(const Char* text) noexcept;
  // A path on which every call fails.
  static Path invalid() noexcept {
    Path path;
    path.valid_ = false;
    return path;
  }

  // Appends a separator and `name` (ASCII); invalid when the result does not fit.
  Path& append(std::string_view name) noexcept;
  // The path cut at its last separator; the path itself when it has none.
  Path parent() const noexcept;

  bool valid() const noexcept {
    return valid_;
  }
  bool empty() const noexcept {
    return length_ == 0;
  }
  std::size_t length() const noexcept {
    return length_;
  }
  Char front() const noexcept {
    return text_[0];
  }
  const Char* c_str() const noexcept {
    return text_.data();
  }
  // UTF-8 text, for messages and tests; may allocate.
  std::string toUtf8() const;

 private:
  std::array<Char, kCapacity> text_{};
  std::size_t length_ = 0;
  bool valid_ = true;
};

}  // namespace vorlund
