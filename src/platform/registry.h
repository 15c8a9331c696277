// Layer: platform
// The registry as registration and the endpoint tools use it: keys created or opened under
// HKEY_LOCAL_MACHINE in the 64-bit view, values of any type written, deleted and read back,
// subkeys listed, whole trees deleted. Windows uses the real registry; Linux keeps an in-process
// stand-in store with the same key/value model (keys nested by backslash, names compared without
// case, the unnamed default value), which tests read back. Every failure returns a Win32 error code
// (0 is success). Configuration threads only: these calls allocate and block.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error_codes.h"

#if !VORLUND_WINDOWS
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
#endif

namespace vorlund {

class RegistryKey {
 public:
  RegistryKey() noexcept = default;
  ~RegistryKey() { close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // RegCreateKeyExW under HKEY_LOCAL_MACHINE: reserved 0, no class, options 0, access
  // KEY_WRITE | KEY_WOW64_64KEY, no security attributes, disposition not asked for. Missing
  // parent keys are created too; an existing key is opened.
  DWORD create(const char16_t* subKey) noexcept;
  // RegOpenKeyExW under HKEY_LOCAL_MACHINE with KEY_QUERY_VALUE | KEY_SET_VALUE |
  // KEY_WOW64_64KEY (no right to create subkeys): an existing key only (ERROR_FILE_NOT_FOUND
  // otherwise). Where the key's permissions refuse writing, this
  // fails with ERROR_ACCESS_DENIED before anything is written.
  DWORD open(const char16_t* subKey) noexcept;
  // RegSetValueExW as REG_SZ, the terminating null counted in the size. A null or empty
  // name is the key's default value.
  DWORD setString(const char16_t* name, const char16_t* value) noexcept;
  // RegSetValueExW as a 4-byte REG_DWORD.
  DWORD setDword(const char16_t* name, DWORD value) noexcept;
  // RegSetValueExW with the type and bytes as they stand.
  DWORD setValue(const char16_t* name, DWORD type, std::span<const std::uint8_t> data) noexcept;
  // RegDeleteValueW; ERROR_FILE_NOT_FOUND when the value does not exist.
  DWORD deleteValue(const char16_t* name) noexcept;
  // RegCloseKey.
  void close() noexcept;
  bool isOpen() const noexcept;

 private:
#if VORLUND_WINDOWS
  HKEY key_ = nullptr;
#else
  std::u16string path_;
  bool open_ = false;
#endif
};

// RegDeleteTreeW under HKEY_LOCAL_MACHINE: the key, its values and every key below it.
// ERROR_FILE_NOT_FOUND when the key does not exist.
DWORD deleteRegistryTree(const char16_t* subKey) noexcept;

struct RegistryValue {
  std::u16string name;  // empty for the default value
  DWORD type = 0;
  std::vector<std::uint8_t> data;

  // REG_SZ data up to its first null.
  std::u16string text() const;
  // The first four bytes of the data, little-endian; 0 when shorter.
  DWORD number() const noexcept;
  // REG_MULTI_SZ data: the strings up to the empty one that ends the list.
  std::vector<std::u16string> strings() const;
};

// Value data as RegSetValueExW stores it: UTF-16 little-endian with its terminating null
// (REG_SZ), or each string with its null and one more null after the last (REG_MULTI_SZ).
std::vector<std::uint8_t> stringData(std::u16string_view text);
std::vector<std::uint8_t> multiStringData(std::span<const std::u16string> strings);

// RegOpenKeyExW (KEY_READ | KEY_WOW64_64KEY) and RegEnumValueW under HKEY_LOCAL_MACHINE:
// every value of the key. ERROR_FILE_NOT_FOUND when the key does not exist.
DWORD readRegistryValues(const char16_t* subKey, std::vector<RegistryValue>& values);

// RegOpenKeyExW (KEY_READ | KEY_WOW64_64KEY) and RegEnumKeyExW under HKEY_LOCAL_MACHINE: the
// names of the key's direct subkeys. ERROR_FILE_NOT_FOUND when the key does not exist.
DWORD readRegistrySubkeys(const char16_t* subKey, std::vector<std::u16string>& names);

// Test support. True where the registry is this process's stand-in store (Linux).
bool registryIsStandIn() noexcept;
// Test support for the stand-in store: after `successfulWrites` more key creations, openings
// for writing and value writes or deletions, the next one fails with `error`; later ones succeed
// again. The real registry cannot be made to fail and ignores this.
void failRegistryWriteAfter(std::uint32_t successfulWrites, DWORD error) noexcept;

}  // namespace vorlund
