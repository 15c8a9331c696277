#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/folder_watch.h"
#include "platform/system.h"
#include "temp_data_folder.h"

#if VORLUND_WINDOWS
#include <windows.h>
#endif

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

// Verifies that a link (symbolic link or reparse point) is refused in every mode and its
// target left untouched, that a file with a second name is refused, and that a file made here
// is an ordinary one with one name, which opens. Each kind of link is tried where the system
// (or Wine) lets the test make it.
TEST(FileTest, LinksAndSecondNamesAreRefused) {
  test::TempDataFolder temp;
  const test::fs::path target = temp.programData() / "target";
  test::writeBytes(target, "root", 4);
  const auto path = [&](const char* name) { return Path::fromUtf8(temp.file(name).string()); };
  File file;
  ASSERT_EQ(ERROR_SUCCESS, file.open(path("made.bin"), FileAccess::readWriteAlways));
  EXPECT_EQ(ERROR_SUCCESS, file.write("ok", 2));
  file.close();

  std::error_code linkError;
#if VORLUND_WINDOWS
  // MinGW's library does not make symbolic links; the system call does, where allowed.
  if (!CreateSymbolicLinkW(temp.file("link.bin").wstring().c_str(), target.wstring().c_str(), 0))
    linkError.assign(static_cast<int>(GetLastError()), std::system_category());
#else
  test::fs::create_symlink(target, temp.file("link.bin"), linkError);
#endif
  if (linkError) {
    std::printf("symbolic links cannot be made here: %s\n", linkError.message().c_str());
  } else if (runningUnderWine()) {
    // Wine's links are host links, shown neither as reparse points nor opened as themselves.
    std::printf("Wine's symbolic links are not reparse points: the link case is not tried\n");
  } else {
    for (FileAccess access : {FileAccess::readExisting, FileAccess::appendAlways,
                              FileAccess::readWriteAlways, FileAccess::readWriteExisting})
      EXPECT_EQ(ERROR_CANT_ACCESS_FILE, file.open(path("link.bin"), access));
    EXPECT_FALSE(file.isOpen());
  }
  test::fs::create_hard_link(target, temp.file("second.bin"), linkError);
  if (linkError) {
    std::printf("hard links cannot be made here: %s\n", linkError.message().c_str());
  } else {
    EXPECT_EQ(ERROR_TOO_MANY_LINKS, file.open(path("second.bin"), FileAccess::appendAlways));
    EXPECT_EQ(ERROR_TOO_MANY_LINKS, file.open(path("second.bin"), FileAccess::readExisting));
  }
  EXPECT_EQ("root", test::readBytes(target));
}

// Verifies the writers' lock: a second handle is refused at once while the first holds it and
// takes it once that one is closed; on Linux a handle open for reading only never takes it,
// so whoever may only read the file cannot hold up the writers.
TEST(FileTest, ExclusiveLockIsTriedWithoutWaiting) {
  test::TempDataFolder temp;
  const Path path = Path::fromUtf8(temp.file("ctl.lock").string());
  File first;
  File second;
  ASSERT_EQ(ERROR_SUCCESS, first.open(path, FileAccess::readWriteAlways));
  ASSERT_EQ(ERROR_SUCCESS, second.open(path, FileAccess::readWriteAlways));
  ASSERT_EQ(ERROR_SUCCESS, first.tryLockExclusive());
  EXPECT_EQ(ERROR_LOCK_VIOLATION, second.tryLockExclusive());
  first.close();
  EXPECT_EQ(ERROR_SUCCESS, second.tryLockExclusive());
  second.close();
#if !VORLUND_WINDOWS
  File reader;
  ASSERT_EQ(ERROR_SUCCESS, reader.open(path, FileAccess::readExisting));
  EXPECT_NE(ERROR_SUCCESS, reader.tryLockExclusive());
#endif
}

}  // namespace
}  // namespace vorlund
