// Layer: platform
// The stand-in registry: one store per process, shaped as the real one is seen through
// HKEY_LOCAL_MACHINE. A key is its full path, compared without case; creating a key
// creates its parents. Registration runs rarely and never on the real-time thread, so a
// mutex guards the store.
#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

#include "platform/registry.h"

namespace vorlund {
namespace {

struct StoredKey {
  std::u16string path;                // as first created, for listing subkeys
  std::vector<RegistryValue> values;  // in the order first written
};

struct Store {
  std::mutex mutex;
  std::map<std::u16string, StoredKey> keys;  // by folded path
  std::uint32_t writesBeforeFault = 0;
  DWORD faultError = ERROR_SUCCESS;
};

Store& store() {
  static Store instance;
  return instance;
}

// ASCII case folding, as key and value names are compared by the registry.
std::u16string fold(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
  return out;
}

std::u16string_view view(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// A path of non-empty components separated by single backslashes.
bool validPath(std::u16string_view path) {
  if (path.empty() || path.front() == u'\\' || path.back() == u'\\') return false;
  return path.find(u"\\\\") == std::u16string_view::npos;
}

// Counts one write against an armed fault: the error when this write is the one to fail,
// which disarms it, else 0.
DWORD dueFault(Store& s) {
  if (s.faultError == ERROR_SUCCESS) return ERROR_SUCCESS;
  if (s.writesBeforeFault > 0) {
    --s.writesBeforeFault;
    return ERROR_SUCCESS;
  }
  return std::exchange(s.faultError, ERROR_SUCCESS);
}

DWORD setValueBytes(const std::u16string& path, const char16_t* name, DWORD type, const void* data,
                    std::size_t size) noexcept {
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    const auto key = s.keys.find(path);
    // The key was deleted while this handle was open, as RegDeleteTreeW allows.
    if (key == s.keys.end()) return ERROR_INVALID_HANDLE;
    if (const DWORD fault = dueFault(s)) return fault;
    const std::u16string folded = fold(view(name));
    std::vector<RegistryValue>& values = key->second.values;
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const RegistryValue& v) { return fold(v.name) == folded; });
    if (it == values.end()) it = values.insert(values.end(), RegistryValue{});
    it->name = std::u16string(view(name));
    it->type = type;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    it->data.assign(bytes, bytes + size);
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

DWORD RegistryKey::create(const char16_t* subKey) noexcept {
  close();
  const std::u16string_view path = view(subKey);
  if (!validPath(path)) return ERROR_INVALID_PARAMETER;
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    if (const DWORD fault = dueFault(s)) return fault;
    const std::u16string folded = fold(path);
    for (std::size_t at = folded.find(u'\\'); at != std::u16string::npos;
         at = folded.find(u'\\', at + 1))
      s.keys.try_emplace(folded.substr(0, at), StoredKey{std::u16string(path.substr(0, at)), {}});
    s.keys.try_emplace(folded, StoredKey{std::u16string(path), {}});
    path_ = folded;
    open_ = true;
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

DWORD RegistryKey::setString(const char16_t* name, const char16_t* value) noexcept {
  if (!open_) return ERROR_INVALID_HANDLE;
  if (value == nullptr) return ERROR_INVALID_PARAMETER;
  // UTF-16 little-endian with its terminator, as RegSetValueExW stores it.
  const std::u16string_view text(value);
  std::vector<std::uint8_t> bytes;
  try {
    bytes.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return setValueBytes(path_, name, REG_SZ, bytes.data(), bytes.size());
}

DWORD RegistryKey::setDword(const char16_t* name, DWORD value) noexcept {
  if (!open_) return ERROR_INVALID_HANDLE;
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return setValueBytes(path_, name, REG_DWORD, bytes, sizeof bytes);
}

DWORD RegistryKey::open(const char16_t* subKey) noexcept {
  close();
  const std::u16string_view path = view(subKey);
  if (!validPath(path)) return ERROR_INVALID_PARAMETER;
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    const std::u16string folded = fold(path);
    if (s.keys.find(folded) == s.keys.end()) return ERROR_FILE_NOT_FOUND;
    if (const DWORD fault = dueFault(s)) return fault;
    path_ = folded;
    open_ = true;
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

DWORD RegistryKey::setValue(const char16_t* name, DWORD type,
                            std::span<const std::uint8_t> data) noexcept {
  if (!open_) return ERROR_INVALID_HANDLE;
  return setValueBytes(path_, name, type, data.data(), data.size());
}

DWORD RegistryKey::deleteValue(const char16_t* name) noexcept {
  if (!open_) return ERROR_INVALID_HANDLE;
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    const auto key = s.keys.find(path_);
    if (key == s.keys.end()) return ERROR_INVALID_HANDLE;
    std::vector<RegistryValue>& values = key->second.values;
    const std::u16string folded = fold(view(name));
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const RegistryValue& v) { return fold(v.name) == folded; });
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (const DWORD fault = dueFault(s)) return fault;
    values.erase(it);
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

void RegistryKey::close() noexcept {
  open_ = false;
  path_.clear();
}

bool RegistryKey::isOpen() const noexcept {
  return open_;
}

DWORD deleteRegistryTree(const char16_t* subKey) noexcept {
  const std::u16string_view path = view(subKey);
  if (!validPath(path)) return ERROR_INVALID_PARAMETER;
  try {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    const std::u16string folded = fold(path);
    const auto key = s.keys.find(folded);
    if (key == s.keys.end()) return ERROR_FILE_NOT_FOUND;
    // The key and everything whose path continues it after a backslash.
    const std::u16string below = folded + u'\\';
    auto end = s.keys.lower_bound(below);
    while (end != s.keys.end() && end->first.compare(0, below.size(), below) == 0) ++end;
    s.keys.erase(key, std::next(key));
    s.keys.erase(s.keys.lower_bound(below), end);
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

DWORD readRegistryValues(const char16_t* subKey, std::vector<RegistryValue>& values) {
  const std::u16string_view path = view(subKey);
  if (!validPath(path)) return ERROR_INVALID_PARAMETER;
  Store& s = store();
  std::lock_guard lock(s.mutex);
  const auto key = s.keys.find(fold(path));
  if (key == s.keys.end()) return ERROR_FILE_NOT_FOUND;
  values = key->second.values;
  return ERROR_SUCCESS;
}

DWORD readRegistrySubkeys(const char16_t* subKey, std::vector<std::u16string>& names) {
  const std::u16string_view path = view(subKey);
  if (!validPath(path)) return ERROR_INVALID_PARAMETER;
  Store& s = store();
  std::lock_guard lock(s.mutex);
  const std::u16string folded = fold(path);
  if (s.keys.find(folded) == s.keys.end()) return ERROR_FILE_NOT_FOUND;
  const std::u16string below = folded + u'\\';
  std::vector<std::u16string> found;
  for (auto it = s.keys.lower_bound(below);
       it != s.keys.end() && it->first.compare(0, below.size(), below) == 0; ++it) {
    if (it->first.find(u'\\', below.size()) != std::u16string::npos) continue;
    found.push_back(it->second.path.substr(below.size()));
  }
  names = std::move(found);
  return ERROR_SUCCESS;
}

bool registryIsStandIn() noexcept {
  return true;
}

void failRegistryWriteAfter(std::uint32_t successfulWrites, DWORD error) noexcept {
  Store& s = store();
  std::lock_guard lock(s.mutex);
  s.writesBeforeFault = successfulWrites;
  s.faultError = error;
}

}  // namespace vorlund
