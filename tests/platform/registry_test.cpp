#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Verifies what attaching to an endpoint relies on, on both backends: opening for writing
// finds only an existing key; values of any type keep their bytes (a list of strings among
// them), and a deleted value is gone while its neighbours stay; subkeys are listed by their
// own names, one level deep.
TEST(RegistryTest, OpensListsAndKeepsRawValues) {
  const std::u16string root = scratchKey() + u"-raw";
  deleteRegistryTree(root.c_str());
  RegistryKey key;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.open(root.c_str()));
  EXPECT_FALSE(key.isOpen());
  ASSERT_EQ(0u, key.create((root + u"\\{Mixed-Case}\\Deeper").c_str()));
  ASSERT_EQ(0u, key.create((root + u"\\Second").c_str()));
  ASSERT_EQ(0u, key.open(root.c_str()));
  const std::vector<std::u16string> list = {u"{A}", u"second one"};
  const std::vector<std::uint8_t> bytes = {1, 0, 255, 7};
  EXPECT_EQ(0u, key.setValue(u"List", REG_MULTI_SZ, multiStringData(list)));
  EXPECT_EQ(0u, key.setValue(u"Raw", REG_BINARY, bytes));
  EXPECT_EQ(0u, key.setValue(u"Gone", REG_SZ, stringData(u"x")));
  EXPECT_EQ(0u, key.deleteValue(u"GONE"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.deleteValue(u"Gone"));
  key.close();

  auto values = valuesOf(root);
  ASSERT_EQ(2u, values.size());
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), values[u"List"].type);
  EXPECT_EQ(list, values[u"List"].strings());
  EXPECT_EQ(32u, values[u"List"].data.size());  // (3 + 1) + (10 + 1) + 1 characters
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), values[u"Raw"].type);
  EXPECT_EQ(bytes, values[u"Raw"].data);
  std::vector<std::u16string> subkeys;
  ASSERT_EQ(0u, readRegistrySubkeys(root.c_str(), subkeys));
  std::sort(subkeys.begin(), subkeys.end());
  EXPECT_EQ((std::vector<std::u16string>{u"Second", u"{Mixed-Case}"}), subkeys);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            readRegistrySubkeys((root + u"\\Missing").c_str(), subkeys));
  EXPECT_EQ(0u, deleteRegistryTree(root.c_str()));
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
