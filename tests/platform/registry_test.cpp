#include "platform/registry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"

namespace vorlund {
namespace {

// A key of this process's own, so tests never meet each other or the component's keys.
std::u16string scratchKey() {
  std::u16string key = u"SOFTWARE\\VorlundTest-";
  for (char c : std::to_string(currentProcessId())) key.push_back(static_cast<char16_t>(c));
  return key;
}

std::map<std::u16string, RegistryValue> valuesOf(const std::u16string& key) {
  std::vector<RegistryValue> values;
  std::map<std::u16string, RegistryValue> byName;
  if (readRegistryValues(key.c_str(), values) != ERROR_SUCCESS) return byName;
  for (RegistryValue& v : values) byName[v.name] = v;
  return byName;
}

// Verifies the key/value model registration relies on, on the stand-in store and the real
// registry alike: nested keys are created with their parents, names are compared without
// case (a second write replaces the value), strings keep their terminator and numbers are
// four bytes; deleting a tree removes the key and everything below it but not a sibling
// whose name merely starts the same, and missing keys report ERROR_FILE_NOT_FOUND.
TEST(RegistryTest, KeysAndValuesFollowTheRegistryModel) {
  const std::u16string root = scratchKey();
  const std::u16string child = root + u"\\Child\\Grandchild";
  const std::u16string sibling = root + u"\\ChildSibling";
  deleteRegistryTree(root.c_str());

  RegistryKey key;
  ASSERT_EQ(0u, key.create(child.c_str()));
  EXPECT_TRUE(key.isOpen());
  EXPECT_EQ(0u, key.setString(nullptr, u"default"));
  EXPECT_EQ(0u, key.setString(u"Name", u"first"));
  EXPECT_EQ(0u, key.setString(u"NAME", u"second"));
  EXPECT_EQ(0u, key.setDword(u"Number", 0xA1B2C3D4u));
  key.close();
  EXPECT_FALSE(key.isOpen());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), key.setDword(u"Number", 1));
  ASSERT_EQ(0u, key.create(sibling.c_str()));
  EXPECT_EQ(0u, key.setDword(u"Kept", 7));
  key.close();

  auto values = valuesOf(root + u"\\child\\GRANDCHILD");
  ASSERT_EQ(3u, values.size());
  EXPECT_EQ(u"default", values[u""].text());
  EXPECT_EQ(16u, values[u""].data.size());
  const auto name = values.begin()->first == u"" ? std::next(values.begin()) : values.begin();
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), name->second.type);
  EXPECT_EQ(u"second", name->second.text());
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), values[u"Number"].type);
  EXPECT_EQ(0xA1B2C3D4u, values[u"Number"].number());
  std::vector<RegistryValue> none;
  EXPECT_EQ(0u, readRegistryValues((root + u"\\Child").c_str(), none));
  EXPECT_TRUE(none.empty());

  EXPECT_EQ(0u, deleteRegistryTree((root + u"\\CHILD").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), readRegistryValues(child.c_str(), none));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            readRegistryValues((root + u"\\Child").c_str(), none));
  EXPECT_EQ(7u, valuesOf(sibling)[u"Kept"].number());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            deleteRegistryTree((root + u"\\Child").c_str()));
  EXPECT_EQ(0u, deleteRegistryTree(root.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), readRegistryValues(sibling.c_str(), none));
}

// Verifies the stand-in's failure switch: the chosen write fails with the chosen error and
// writes nothing, and the store works normally afterwards.
TEST(RegistryTest, StandInFailsTheChosenWrite) {
  if (!registryIsStandIn()) GTEST_SKIP() << "the real registry cannot be made to fail";
  const std::u16string root = scratchKey();
  RegistryKey key;
  failRegistryWriteAfter(1, ERROR_ACCESS_DENIED);
  ASSERT_EQ(0u, key.create(root.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), key.setDword(u"Lost", 1));
  EXPECT_EQ(0u, key.setDword(u"Kept", 2));
  const auto values = valuesOf(root);
  EXPECT_EQ(1u, values.size());
  EXPECT_EQ(1u, values.count(u"Kept"));
  EXPECT_EQ(0u, deleteRegistryTree(root.c_str()));
}

}  // namespace
}  // namespace vorlund
