#include "platform/replacing_file.h"

#include <gtest/gtest.h>

#include "platform/system.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

// Verifies that a ReplacingFile leaves the target as it was until committed and nothing
// behind either way, and that a link planted where a temporary file would go is never opened:
// its target keeps its bytes and a dangling link's target is not created.
TEST(ReplacingFileTest, ReplacesOnCommitOnlyAndNeverThroughALink) {
  test::TempDataFolder temp;
  const test::fs::path target = temp.file("params.bin");
  test::writeBytes(target, "old", 3);
  {
    ReplacingFile abandoned;
    ASSERT_EQ(ERROR_SUCCESS, abandoned.create(target));
    EXPECT_EQ(ERROR_SUCCESS, abandoned.write("half", 4));
  }
  ReplacingFile file;
  ASSERT_EQ(ERROR_SUCCESS, file.create(target));
  EXPECT_EQ(ERROR_SUCCESS, file.write("new", 3));
  EXPECT_EQ("old", test::readBytes(target));
  EXPECT_EQ(ERROR_SUCCESS, file.commit());
  EXPECT_EQ("new", test::readBytes(target));
  std::size_t names = 0;
  for (const auto& entry : test::fs::directory_iterator(temp.dataFolder())) names += entry.exists();
  EXPECT_EQ(1u, names) << "a temporary file was left behind";
  EXPECT_NE(temporaryNameBeside(target), temporaryNameBeside(target));
  EXPECT_EQ(target.parent_path(), temporaryNameBeside(target).parent_path());

  const test::fs::path victim = temp.programData() / "victim";
  test::writeBytes(victim, "mine", 4);
  std::error_code linkError;
  test::fs::create_symlink(victim, temp.file("planted"), linkError);
  test::fs::create_symlink(temp.programData() / "absent", temp.file("dangling"), linkError);
  if (linkError || runningUnderWine()) GTEST_SKIP() << "no symbolic links to plant here";
  for (const char* name : {"planted", "dangling"}) {
    NativeHandle handle{};
    EXPECT_EQ(ERROR_FILE_EXISTS, createNewFile(temp.file(name), handle)) << name;
  }
  EXPECT_EQ("mine", test::readBytes(victim));
  EXPECT_FALSE(test::fs::exists(temp.programData() / "absent"));
}

}  // namespace
}  // namespace vorlund
