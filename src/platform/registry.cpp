// Layer: platform
#include "platform/registry.h"

#include <utility>

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

std::vector<std::u16string> RegistryValue::strings() const {
  std::vector<std::u16string> out;
  std::u16string current;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c != 0) {
      current.push_back(c);
      continue;
    }
    if (current.empty()) break;
    out.push_back(std::move(current));
    current.clear();
  }
  // A list whose final terminators were cut off still holds its last string.
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

namespace {

void appendUtf16(std::vector<std::uint8_t>& bytes, std::u16string_view text) {
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> stringData(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  appendUtf16(bytes, text);
  return bytes;
}

std::vector<std::uint8_t> multiStringData(std::span<const std::u16string> strings) {
  std::vector<std::uint8_t> bytes;
  for (const std::u16string& text : strings) appendUtf16(bytes, text);
  appendUtf16(bytes, u"");
  return bytes;
}

}  // namespace vorlund
