#include "common/system_path.h"

#include <algorithm>
#include <vector>

#include "platform/registry.h"

namespace vorlund {
namespace {

constexpr char16_t kPathValue[] = u"Path";
constexpr DWORD kExpandString = 2;  // REG_EXPAND_SZ

bool sameFolder(std::u16string_view a, std::u16string_view b) {
  const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

// Where the first entry naming `folder` starts; npos when none does.
std::size_t findEntry(std::u16string_view path, std::u16string_view folder) {
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find(u';', start), path.size());
    if (sameFolder(path.substr(start, end - start), folder)) return start;
    start = end + 1;
  }
  return std::u16string_view::npos;
}

DWORD changeSystemPath(bool add, std::u16string_view folder, bool& changed) {
  changed = false;
  std::vector<RegistryValue> values;
  if (const DWORD error = readRegistryValues(kSystemEnvironmentKey, values)) return error;
  RegistryValue value{kPathValue, kExpandString, {}};
  const auto found = std::find_if(values.begin(), values.end(), [](const RegistryValue& v) {
    return sameFolder(v.name, kPathValue);
  });
  if (found != values.end()) value = *found;
  if (value.type != REG_SZ && value.type != kExpandString) return ERROR_INVALID_DATA;
  const std::u16string text = value.text();
  const std::u16string next = add ? withPathEntry(text, folder) : withoutPathEntry(text, folder);
  if (next == text) return ERROR_SUCCESS;
  // The text's own bytes and its null are replaced; whatever followed stays.
  std::vector<std::uint8_t> data = stringData(next);
  const std::size_t kept = std::min(value.data.size(), (text.size() + 1) * 2);
  data.insert(data.end(), value.data.begin() + static_cast<std::ptrdiff_t>(kept), value.data.end());
  RegistryKey key;
  if (const DWORD error = key.open(kSystemEnvironmentKey)) return error;
  if (const DWORD error = key.setValue(value.name.c_str(), value.type, data)) return error;
  changed = true;
  return ERROR_SUCCESS;
}

}  // namespace

std::u16string withPathEntry(std::u16string_view path, std::u16string_view folder) {
  std::u16string result(path);
  if (folder.empty() || findEntry(path, folder) != std::u16string_view::npos) return result;
  if (path.empty()) return result.append(folder);
  if (path.back() == u';') return result.append(folder).append(u";");
  return result.append(u";").append(folder);
}

std::u16string withoutPathEntry(std::u16string_view path, std::u16string_view folder) {
  std::u16string result(path);
  const std::size_t start = folder.empty() ? std::u16string_view::npos : findEntry(path, folder);
  if (start == std::u16string_view::npos) return result;
  const std::size_t end = start + folder.size();
  if (end < path.size()) return result.erase(start, folder.size() + 1);
  if (start > 0) return result.erase(start - 1);
  return result.erase(start);
}

DWORD addToSystemPath(std::u16string_view folder, bool& changed) {
  return changeSystemPath(true, folder, changed);
}

DWORD removeFromSystemPath(std::u16string_view folder, bool& changed) {
  return changeSystemPath(false, folder, changed);
}

}  // namespace vorlund
