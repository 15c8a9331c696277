// The registry as the tests read it back: the stand-in store on Linux, HKLM's 64-bit view on
// Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace vorlund::test {

// Whether HKLM\<key> exists. An ASCII path may be given as a plain string.
inline bool keyExists(const std::u16string& key) {
  std::vector<RegistryValue> values;
  return readRegistryValues(key.c_str(), values) == ERROR_SUCCESS;
}
inline bool keyExists(std::string_view asciiKey) {
  return keyExists(std::u16string(asciiKey.begin(), asciiKey.end()));
}

}  // namespace vorlund::test
