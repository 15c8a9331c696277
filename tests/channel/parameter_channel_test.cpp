#include "channel/parameter_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"
#include "record_helpers.h"
#include "temp_data_folder.h"

#if !VORLUND_WINDOWS
#include <errno.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace vorlund {
namespace {

using test::eventually;
using test::recordWithGain;
using test::sameRecord;
using test::TempDataFolder;
using test::writeRecordFile;

// The record a reader takes from the block now; `counter` receives its counter.
ParameterBlock currentRecord(SharedBlock& block, std::uint32_t* counter = nullptr) {
  ParameterBlock record{};
  std::uint32_t c = 0;
  EXPECT_TRUE(readSnapshot(block, record, c));
  if (counter != nullptr) *counter = c;
  return record;
}

// Verifies a fresh shared.bin: created 65,536 bytes long with version 2, size 768, the
// sanitised record of params.bin at counter 2 and the magic, the rest zero; a second
// mapping, as the control application makes, shares the block both ways.
TEST(ParameterChannelTest, CreatesAndSharesFreshSharedFile) {
  TempDataFolder temp;
  ParameterBlock fileRecord = recordWithGain(7.0f);
  fileRecord.highPassHz = 5000.0f;
  writeRecordFile(temp, fileRecord);
  ParameterChannel channel;
  channel.open();
  ASSERT_TRUE(channel.isShared());
  EXPECT_EQ(65536u, test::fs::file_size(temp.file("shared.bin")));

  File file;
  FileMapping mapping;
  ASSERT_EQ(ERROR_SUCCESS, file.open(sharedFilePath(), FileAccess::readWriteAlways));
  ASSERT_EQ(ERROR_SUCCESS, mapping.create(file, ParameterChannel::kSharedFileBytes));
  ASSERT_EQ(ERROR_SUCCESS, mapping.mapView(sizeof(SharedBlock)));
  SharedBlock& block = *static_cast<SharedBlock*>(mapping.view());
  ASSERT_NE(&block, channel.activeBlock());
  EXPECT_EQ(0, std::memcmp(&block, "VRLS", 4));
  EXPECT_EQ(2u, block.version);
  EXPECT_EQ(768u, block.size);
  std::uint32_t counter = 0;
  sanitise(fileRecord);
  EXPECT_TRUE(sameRecord(fileRecord, currentRecord(block, &counter)));
  EXPECT_EQ(300.0f, currentRecord(block).highPassHz);
  EXPECT_EQ(2u, counter);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
  EXPECT_TRUE(std::all_of(bytes + 540, bytes + 768, [](unsigned char b) { return b == 0; }));

  sharedWord(block.relearnCounter).store(41);
  EXPECT_EQ(41u, loadRelearnCounter(*channel.activeBlock()));
  publishRecord(block, recordWithGain(-3.0f));
  EXPECT_EQ(-3.0f, currentRecord(*channel.activeBlock(), &counter).inputGainDb);
  EXPECT_EQ(4u, counter);
}

// Verifies that a valid existing block is used unchanged (record, counter and relearn
// counter survive, params.bin is not reloaded); a version-1 block is initialised again from
// params.bin, its odd counter (a writer stopped half-way) raised to the next even pair; a
// 4-byte file is grown and initialised with the defaults.
TEST(ParameterChannelTest, KeepsValidBlockAndReinitialisesOthers) {
  TempDataFolder temp;
  writeRecordFile(temp, recordWithGain(11.0f));
  SharedBlock image{};
  image.magic = SharedBlock::kMagic;
  image.version = 2;
  image.size = 768;
  image.changeCounter = 40;
  image.relearnCounter = 9;
  const ParameterBlock kept = recordWithGain(3.0f);
  std::memcpy(image.parameterArea, &kept, sizeof kept);
  const auto openAndRead = [&](std::uint32_t& counter) {
    ParameterChannel channel;
    channel.open();
    EXPECT_TRUE(channel.isShared());
    EXPECT_EQ(SharedBlock::kVersion, channel.activeBlock()->version);
    EXPECT_EQ(9u, loadRelearnCounter(*channel.activeBlock()));
    return currentRecord(*channel.activeBlock(), &counter);
  };
  std::uint32_t counter = 0;
  test::writeBytes(temp.file("shared.bin"), &image, sizeof image);
  EXPECT_TRUE(sameRecord(kept, openAndRead(counter)));
  EXPECT_EQ(40u, counter);

  image.version = 1;
  image.changeCounter = 5;
  test::writeBytes(temp.file("shared.bin"), &image, sizeof image);
  EXPECT_EQ(11.0f, openAndRead(counter).inputGainDb);
  EXPECT_EQ(8u, counter);

  test::fs::remove(temp.file("params.bin"));
  test::writeBytes(temp.file("shared.bin"), "VRLS", 4);
  ParameterChannel channel;
  channel.open();
  EXPECT_EQ(65536u, test::fs::file_size(temp.file("shared.bin")));
  ParameterBlock factory = test::defaultRecord();
  EXPECT_TRUE(sameRecord(factory, currentRecord(*channel.activeBlock(), &counter)));
  EXPECT_EQ(2u, counter);
}

// Verifies the acceptance rules of params.bin: exactly one record's length read, magic
// "VRLD" and size field 524; the version is not examined and the record is sanitised; a
// refused file leaves the destination untouched.
TEST(ParameterChannelTest, ParameterFileAcceptanceRules) {
  TempDataFolder temp;
  ParameterBlock untouched;
  std::memset(&untouched, 0x5C, sizeof untouched);
  ParameterBlock destination = untouched;
  EXPECT_FALSE(readParameterFile(destination));  // missing
  ParameterBlock wrongMagic = recordWithGain(5.0f);
  wrongMagic.magic[3] = 'X';
  ParameterBlock wrongSize = recordWithGain(5.0f);
  wrongSize.size = 525;
  for (const auto& [record, length] :
       {std::pair{recordWithGain(5.0f), std::size_t{523}}, std::pair{wrongMagic, sizeof wrongMagic},
        std::pair{wrongSize, sizeof wrongSize}}) {
    writeRecordFile(temp, record, length);
    EXPECT_FALSE(readParameterFile(destination));
  }
  EXPECT_TRUE(sameRecord(untouched, destination));

  ParameterBlock odd = recordWithGain(99.0f);
  odd.version = 7;
  writeRecordFile(temp, odd, 600);
  EXPECT_TRUE(readParameterFile(destination));
  EXPECT_EQ(1u, destination.version);
  EXPECT_EQ(30.0f, destination.inputGainDb);
}

// Verifies fallback without the data folder: the Temp log gets the line with error 3, the
// private block the defaults; once the folder and a valid params.bin appear the watcher
// publishes it; refused files publish nothing, a 600-byte file is taken, deleting params.bin
// keeps the last record, and closing twice is harmless.
TEST(ParameterChannelThreadTest, FallbackWatcherPublishesParameterFile) {
  TempDataFolder temp(false);
  const std::string message =
      "shared file unavailable (error 3), falling back to params.bin watching";
  const auto logged = [&] {
    const std::vector<std::string> messages = test::tempLogMessages();
    return std::count(messages.begin(), messages.end(), message);
  };
  const auto before = logged();
  ParameterChannel channel;
  channel.open();
  ASSERT_NE(nullptr, channel.activeBlock());
  EXPECT_FALSE(channel.isShared());
  EXPECT_EQ(before + 1, logged());
  SharedBlock& block = *channel.activeBlock();
  ParameterBlock factory = test::defaultRecord();
  EXPECT_TRUE(sameRecord(factory, currentRecord(block)));

  temp.create();
  writeRecordFile(temp, recordWithGain(6.0f));
  EXPECT_TRUE(eventually([&] { return currentRecord(block).inputGainDb == 6.0f; }));

  // A refused file may be read at once or not at all; either way the record stays.
  writeRecordFile(temp, recordWithGain(9.0f), 523);
  sleepMilliseconds(300);
  ParameterBlock wrongMagic = recordWithGain(9.0f);
  wrongMagic.magic[0] = 'X';
  writeRecordFile(temp, wrongMagic);
  sleepMilliseconds(300);
  EXPECT_EQ(6.0f, currentRecord(block).inputGainDb);

  writeRecordFile(temp, recordWithGain(-4.0f), 600);
  EXPECT_TRUE(eventually([&] { return currentRecord(block).inputGainDb == -4.0f; }));
  std::uint32_t published = 0, now = 0;
  currentRecord(block, &published);
  test::fs::remove(temp.file("params.bin"));
  sleepMilliseconds(300);
  EXPECT_EQ(-4.0f, currentRecord(block, &now).inputGainDb);
  EXPECT_EQ(published, now);

  channel.close();
  EXPECT_EQ(nullptr, channel.activeBlock());
  channel.close();
}

// Verifies fallback when shared.bin cannot be opened (a folder in its place: access denied,
// error 5) while the data folder exists: the watcher picks up each rewrite of params.bin, and
// a change of any other file in the folder publishes the same record again.
TEST(ParameterChannelThreadTest, WatcherPicksUpRewrittenFile) {
  TempDataFolder temp;
  test::fs::create_directory(temp.file("shared.bin"));
  ParameterChannel channel;
  channel.open();
  ASSERT_NE(nullptr, channel.activeBlock());
  EXPECT_EQ(std::vector<std::string>{"shared file unavailable (error 5), falling back to "
                                     "params.bin watching"},
            test::logMessages(temp.file("apo.log")));
  SharedBlock& block = *channel.activeBlock();
  for (float gain : {2.0f, 3.0f}) {
    writeRecordFile(temp, recordWithGain(gain));
    EXPECT_TRUE(eventually([&] { return currentRecord(block).inputGainDb == gain; })) << gain;
  }
  const std::uint32_t counter = loadChangeCounter(block);
  test::writeBytes(temp.file("other.txt"), "x", 1);
  EXPECT_TRUE(eventually([&] { return loadChangeCounter(block) != counter; }));
  EXPECT_EQ(3.0f, currentRecord(block).inputGainDb);
}

// Verifies fallback when shared.bin is a link (to the null device, which could be neither
// sized nor mapped): the link is not followed, the record of params.bin is in force at once,
// the lines name the reason and the failure, the device is left as it was. Skipped where the
// test cannot make the link.
TEST(ParameterChannelTest, UnmappableSharedFileFallsBack) {
  TempDataFolder temp;
  std::error_code linkError;
  test::fs::create_symlink("/dev/null", temp.file("shared.bin"), linkError);
  if (linkError || !test::fs::exists("/dev/null")) GTEST_SKIP() << "no null device to link";
  writeRecordFile(temp, recordWithGain(5.0f));

  ParameterChannel channel;
  channel.open();
  ASSERT_NE(nullptr, channel.activeBlock());
  EXPECT_FALSE(channel.isShared());
  EXPECT_EQ(5.0f, currentRecord(*channel.activeBlock()).inputGainDb);
  const std::vector<std::string> messages = test::logMessages(temp.file("apo.log"));
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ("shared.bin refused: a link or reparse point", messages[0]);
  EXPECT_EQ("shared file unavailable (error 1920), falling back to params.bin watching",
            messages[1]);
  EXPECT_TRUE(test::fs::is_character_file("/dev/null"));

  writeRecordFile(temp, recordWithGain(-3.0f));
  EXPECT_TRUE(
      eventually([&] { return currentRecord(*channel.activeBlock()).inputGainDb == -3.0f; }));
}

#if !VORLUND_WINDOWS
// A channel opened now falls back to its private block and the defaults.
void expectPrivateBlockWithDefaults() {
  ParameterChannel channel;
  channel.open();
  ASSERT_NE(nullptr, channel.activeBlock());
  EXPECT_FALSE(channel.isShared());
  EXPECT_EQ(0.0f, currentRecord(*channel.activeBlock()).inputGainDb);
}

// Verifies that files someone else placed in the data folder cannot redirect or stall the
// effect: a link at shared.bin or params.bin is not followed (the targets keep their bytes,
// the log names the reason), nor is a second name of a file; a FIFO at params.bin, there at
// open or swapped in while the watcher runs, blocks neither the open nor the close.
TEST(ParameterChannelTest, LinksAndFifosAreRefusedWithoutBlocking) {
  TempDataFolder temp;
  const test::fs::path shared = temp.programData() / "shared-target";
  const test::fs::path params = temp.programData() / "params-target";
  test::writeBytes(shared, "root", 4);
  ParameterBlock loud = recordWithGain(20.0f);
  test::writeBytes(params, &loud, sizeof loud);
  test::fs::create_symlink(shared, temp.file("shared.bin"));
  test::fs::create_symlink(params, temp.file("params.bin"));
  const auto elapsedMs = [](auto&& body) {
    const std::uint64_t start = tickCount64();
    body();
    return tickCount64() - start;
  };
  expectPrivateBlockWithDefaults();
  EXPECT_EQ("root", test::readBytes(shared));
  EXPECT_EQ(sizeof loud, test::fs::file_size(params));
  const std::vector<std::string> messages = test::logMessages(temp.file("apo.log"));
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(),
                          "params.bin refused: a link or reparse point"));

  test::fs::remove(temp.file("params.bin"));
  test::fs::create_hard_link(params, temp.file("params.bin"));
  ParameterBlock record;
  EXPECT_FALSE(readParameterFile(record));

  test::fs::remove(temp.file("params.bin"));
  ASSERT_EQ(0, mkfifo(temp.file("params.bin").c_str(), 0666));
  ParameterChannel channel;
  EXPECT_LT(elapsedMs([&] { channel.open(); }), 1000u);
  EXPECT_FALSE(channel.isShared());
  // Swapped in while the watcher runs: it wakes, finds a FIFO again, and still stops at once.
  test::fs::remove(temp.file("params.bin"));
  ASSERT_EQ(0, mkfifo(temp.file("params.bin").c_str(), 0666));
  sleepMilliseconds(2 * ParameterChannel::kSettleMs);
  EXPECT_LT(elapsedMs([&] { channel.close(); }), 1000u);
  EXPECT_EQ("root", test::readBytes(shared));
}

// Verifies that a data folder which is itself a link is not followed: the effect falls back,
// creates and reads nothing where the link points, and says why in the Temp log.
TEST(ParameterChannelTest, LinkedDataFolderIsNotFollowed) {
  TempDataFolder temp(false);
  const test::fs::path outside = temp.programData() / "outside";
  test::fs::create_directories(outside);
  ParameterBlock loud = recordWithGain(20.0f);
  test::writeBytes(outside / "params.bin", &loud, sizeof loud);
  test::fs::create_directory_symlink(outside, temp.dataFolder());
  expectPrivateBlockWithDefaults();
  EXPECT_EQ(1, std::distance(test::fs::directory_iterator(outside), {}));
  const std::vector<std::string> messages =
      test::logMessages(test::toFsPath(logTempFolder()) / "apo.log");
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(),
                          "shared.bin refused: its folder is a link or reparse point"));
}

// Verifies that many objects whose watch cannot be set (here: no data folder yet) say so
// once, not once each.
TEST(ParameterChannelTest, WatchFailureIsLoggedOnce) {
  TempDataFolder temp(false);
  std::vector<std::unique_ptr<ParameterChannel>> channels;
  for (int i = 0; i < 8; ++i) {
    channels.push_back(std::make_unique<ParameterChannel>());
    channels.back()->open();
  }
  const auto watchLines = [] {
    const std::vector<std::string> messages = test::tempLogMessages();
    return std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
      return m.rfind("cannot watch the data folder (error ", 0) == 0;
    });
  };
  EXPECT_TRUE(eventually([&] { return watchLines() >= 1; }));
  sleepMilliseconds(100);
  EXPECT_EQ(1, watchLines());
  channels.clear();
}

// Verifies that shared.bin is allocated for real with mode 0664, so that a user outside its
// group cannot truncate it under the mapping; and that on a full disk the channel falls back
// instead of mapping a file it could not allocate (which would raise SIGBUS at the first
// write). The parts that need another user or a mount run as root only.
TEST(ParameterChannelTest, SharedFileIsAllocatedAndKeptFromOtherUsers) {
  TempDataFolder temp;
  {
    ParameterChannel channel;
    channel.open();
    ASSERT_TRUE(channel.isShared());
    struct stat info {};
    ASSERT_EQ(0, stat(temp.file("shared.bin").c_str(), &info));
    EXPECT_EQ(0664u, info.st_mode & 07777);
    EXPECT_GE(static_cast<std::uint64_t>(info.st_blocks) * 512, ParameterChannel::kSharedFileBytes);
    if (geteuid() == 0) {
      // As nobody, who is neither the owner nor in the group.
      const pid_t child = fork();
      if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = open(temp.file("shared.bin").c_str(), O_WRONLY | O_TRUNC);
        _exit(fd < 0 && errno == EACCES ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(child, waitpid(child, &status, 0));
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      publishRecord(*channel.activeBlock(), recordWithGain(4.0f));
      EXPECT_EQ(ParameterChannel::kSharedFileBytes, test::fs::file_size(temp.file("shared.bin")));
    } else {
      std::printf("not root: the other-user truncation is not tried\n");
    }
  }
  if (geteuid() != 0) GTEST_SKIP() << "not root: no small file system to fill";
  const test::fs::path full = temp.programData() / "full";
  test::fs::create_directory(full);
  if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs";
  setEnvironmentVariable("ProgramData", full.c_str());
  test::fs::create_directory(full / "Vorlund");
  {
    ParameterChannel channel;
    channel.open();
    ASSERT_NE(nullptr, channel.activeBlock());
    EXPECT_FALSE(channel.isShared());
    publishRecord(*channel.activeBlock(), recordWithGain(2.0f));
    EXPECT_EQ(2.0f, currentRecord(*channel.activeBlock()).inputGainDb);
  }
  EXPECT_EQ(0, umount(full.c_str()));
}
#endif

}  // namespace
}  // namespace vorlund
