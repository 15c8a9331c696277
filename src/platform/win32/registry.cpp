// Layer: platform
#include "platform/registry.h"

#include <windows.h>

namespace vorlund {
namespace {

// char16_t and wchar_t are both UTF-16 code units on Windows; the registry sees only bytes.
const wchar_t* wide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}

// KEY_WRITE | KEY_WOW64_64KEY: a 64-bit component registers in the 64-bit view whatever
// process runs the registration.
constexpr REGSAM kWriteAccess = KEY_WRITE | KEY_WOW64_64KEY;
static_assert(kWriteAccess == 0x20106);
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;

}  // namespace

DWORD RegistryKey::create(const char16_t* subKey) noexcept {
  close();
  const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(subKey), 0, nullptr, 0,
                                         kWriteAccess, nullptr, &key_, nullptr);
  if (status != ERROR_SUCCESS) key_ = nullptr;
  return static_cast<DWORD>(status);
}

DWORD RegistryKey::setString(const char16_t* name, const char16_t* value) noexcept {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  if (value == nullptr) return ERROR_INVALID_PARAMETER;
  std::size_t length = 0;
  while (value[length] != 0) ++length;
  const DWORD bytes = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
  return static_cast<DWORD>(
      RegSetValueExW(key_, wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes));
}

DWORD RegistryKey::setDword(const char16_t* name, DWORD value) noexcept {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  return static_cast<DWORD>(RegSetValueExW(key_, wide(name), 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&value), sizeof value));
}

DWORD RegistryKey::open(const char16_t* subKey) noexcept {
  close();
  // Only the rights used: reading and setting values, never creating subkeys, which keys
  // owned by the system (an audio endpoint's) refuse even to administrators.
  const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(subKey), 0,
                                       KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key_);
  if (status != ERROR_SUCCESS) key_ = nullptr;
  return static_cast<DWORD>(status);
}

DWORD RegistryKey::setValue(const char16_t* name, DWORD type,
                            std::span<const std::uint8_t> data) noexcept {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  return static_cast<DWORD>(
      RegSetValueExW(key_, wide(name), 0, type, data.data(), static_cast<DWORD>(data.size())));
}

DWORD RegistryKey::deleteValue(const char16_t* name) noexcept {
  if (key_ == nullptr) return ERROR_INVALID_HANDLE;
  return static_cast<DWORD>(RegDeleteValueW(key_, wide(name)));
}

void RegistryKey::close() noexcept {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

bool RegistryKey::isOpen() const noexcept {
  return key_ != nullptr;
}

DWORD deleteRegistryTree(const char16_t* subKey) noexcept {
  return static_cast<DWORD>(RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide(subKey)));
}

DWORD readRegistryValues(const char16_t* subKey, std::vector<RegistryValue>& values) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(subKey), 0, kReadAccess, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  DWORD count = 0, longestName = 0, longestData = 0;
  status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                            &longestName, &longestData, nullptr, nullptr);
  std::vector<RegistryValue> found;
  std::vector<wchar_t> name(longestName + 1);
  for (DWORD i = 0; status == ERROR_SUCCESS && i < count; ++i) {
    RegistryValue value;
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = longestData;
    value.data.resize(longestData);
    status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &value.type,
                           value.data.data(), &size);
    if (status != ERROR_SUCCESS) break;
    value.name.assign(reinterpret_cast<const char16_t*>(name.data()), nameLength);
    value.data.resize(size);
    found.push_back(std::move(value));
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  values = std::move(found);
  return ERROR_SUCCESS;
}

DWORD readRegistrySubkeys(const char16_t* subKey, std::vector<std::u16string>& names) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(subKey), 0, kReadAccess, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  DWORD count = 0, longestName = 0;
  status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longestName, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr);
  std::vector<std::u16string> found;
  std::vector<wchar_t> name(longestName + 1);
  for (DWORD i = 0; status == ERROR_SUCCESS && i < count; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    status = RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
      found.emplace_back(reinterpret_cast<const char16_t*>(name.data()), length);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  names = std::move(found);
  return ERROR_SUCCESS;
}

bool registryIsStandIn() noexcept {
  return false;
}

void failRegistryWriteAfter(std::uint32_t, DWORD) noexcept {}

}  // namespace vorlund
