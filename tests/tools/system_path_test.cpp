#include "common/system_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"

namespace vorlund {
namespace {

constexpr char16_t kFolder[] = u"C:\\Program Files\\Vorlund";

std::vector<std::uint8_t> pathData() {
  std::vector<RegistryValue> values;
  EXPECT_EQ(0u, readRegistryValues(kSystemEnvironmentKey, values));
  for (const RegistryValue& value : values)
    if (value.name == u"Path") return value.data;
  return {};
}

// Verifies that adding and then removing the folder gives back every PATH byte for byte
// (empty, ending in ';', with empty entries, followed by stray bytes after its null), that
// adding twice adds once, and that an entry naming the folder in another case counts as it:
// nothing is added, and a PATH that had it before keeps it when the uninstaller removes
// nothing it did not add. The registry part runs on the stand-in store only.
TEST(SystemPathTest, AddThenRemoveRestoresEveryPath) {
  for (const std::u16string before :
       {u"", u"C:\\A", u"C:\\A;", u"C:\\A;;C:\\B", u"C:\\A;c:\\program files\\vorlund;C:\\B"}) {
    SCOPED_TRACE(std::string(before.begin(), before.end()));
    const std::u16string added = withPathEntry(before, kFolder);
    EXPECT_EQ(added, withPathEntry(added, kFolder));
    if (before.find(u"vorlund") != std::u16string::npos) {
      EXPECT_EQ(before, added);
      continue;
    }
    EXPECT_EQ(before.size() + std::u16string(kFolder).size() + (before.empty() ? 0 : 1),
              added.size());
    EXPECT_EQ(before, withoutPathEntry(added, kFolder));
  }
  EXPECT_EQ(u"C:\\A;C:\\B", withoutPathEntry(u"C:\\A;C:\\Program Files\\Vorlund;C:\\B", kFolder));

  if (!registryIsStandIn()) GTEST_SKIP() << "the system PATH of this machine stays as it is";
  RegistryKey key;
  ASSERT_EQ(0u, key.create(kSystemEnvironmentKey));
  std::vector<std::uint8_t> original = stringData(u"%SystemRoot%;C:\\A;");
  original.push_back(0x7F);  // a stray byte after the text's null
  ASSERT_EQ(0u, key.setValue(u"Path", 2, original));
  bool changed = false;
  ASSERT_EQ(0u, addToSystemPath(kFolder, changed));
  EXPECT_TRUE(changed);
  std::vector<RegistryValue> values;
  readRegistryValues(kSystemEnvironmentKey, values);
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ(2u, values[0].type) << "REG_EXPAND_SZ kept";
  EXPECT_EQ(u"%SystemRoot%;C:\\A;C:\\Program Files\\Vorlund;", values[0].text());
  ASSERT_EQ(0u, addToSystemPath(kFolder, changed));
  EXPECT_FALSE(changed);
  ASSERT_EQ(0u, removeFromSystemPath(kFolder, changed));
  EXPECT_TRUE(changed);
  EXPECT_EQ(original, pathData());
  ASSERT_EQ(0u, removeFromSystemPath(kFolder, changed));
  EXPECT_FALSE(changed);
  deleteRegistryTree(kSystemEnvironmentKey);
}

}  // namespace
}  // namespace vorlund
