#include "platform/registry.h"

namespace vorlund {

std::u16string RegistryValue::text() const {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

DWORD RegistryValue::number() const noexcept {
  if (data.size() < 4) return 0;
  return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
         static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
}

}  // namespace vorlund
