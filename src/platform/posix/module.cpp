// Layer: platform
#include "platform/module.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>

#include "platform/posix/errno_map.h"

namespace vorlund {
namespace {

// Decodes one UTF-8 sequence at `text`, advancing it; U+FFFD for a malformed one.
char32_t decodeUtf8(const unsigned char*& text) noexcept {
  const unsigned char lead = *text++;
  if (lead < 0x80) return lead;
  const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || lead >= 0xF8) return 0xFFFD;
  char32_t c = lead & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    if ((*text & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (*text++ & 0x3F);
  }
  return c > 0x10FFFF ? 0xFFFD : c;
}

}  // namespace

std::uint32_t moduleFileName(char16_t* buffer, std::uint32_t capacity, DWORD& error) noexcept {
  error = ERROR_SUCCESS;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleFileName), &info) == 0 || info.dli_fname == nullptr) {
    error = ERROR_MOD_NOT_FOUND;
    return 0;
  }
  // The loader keeps the name it was given, which may be relative.
  char* full = realpath(info.dli_fname, nullptr);
  if (full == nullptr) {
    error = win32ErrorFromErrno(errno, info.dli_fname);
    return 0;
  }
  std::uint32_t n = 0;
  bool cut = false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(full); *p != 0;) {
    const char32_t c = decodeUtf8(p);
    const std::uint32_t units = c > 0xFFFF ? 2 : 1;
    if (n + units >= capacity) {
      cut = true;
      break;
    }
    if (units == 2) {
      buffer[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      buffer[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      buffer[n++] = static_cast<char16_t>(c);
    }
  }
  free(full);
  if (capacity > 0) buffer[n] = 0;
  if (!cut) return n;
  error = ERROR_INSUFFICIENT_BUFFER;
  return capacity;
}

}  // namespace vorlund
