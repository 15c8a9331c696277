#include "platform/file.h"

#include <gtest/gtest.h>

#include "platform/folder_watch.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

// Verifies that failures carry the Win32 code of what is missing or refused: a missing last
// component 2 (and opening an existing file never creates it), a missing folder on the way 3,
// and a folder where a file is expected 5 (a read-only file would not do: as root it opens for
// writing anyway).
TEST(FileTest, FailuresCarryWin32ErrorCodes) {
  test::TempDataFolder temp;
  const Path folder = Path::fromUtf8(temp.dataFolder().string());
  Path missing = folder;
  missing.append("missing");
  Path deeper = missing;
  deeper.append("params.bin");
  Path sub = folder;
  sub.append("sub");
  test::fs::create_directory(test::toFsPath(sub));

  File file;
  FolderWatch watch;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, file.open(missing, FileAccess::readExisting));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, watch.start(missing));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, moveFileReplacing(missing, deeper));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, file.open(missing, FileAccess::readWriteExisting));
  EXPECT_FALSE(test::fs::exists(test::toFsPath(missing)));
  for (FileAccess access : {FileAccess::readExisting, FileAccess::appendAlways,
                            FileAccess::readWriteAlways, FileAccess::readWriteExisting}) {
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, file.open(deeper, access));
    EXPECT_EQ(ERROR_ACCESS_DENIED, file.open(sub, access));
  }
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, watch.start(deeper));
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(watch.isOpen());
  std::uint64_t size = 0;
  EXPECT_FALSE(queryFileSize(missing, size));
  EXPECT_FALSE(Path(folder).append(std::string(Path::kCapacity, 'x')).valid());
}

}  // namespace
}  // namespace vorlund
