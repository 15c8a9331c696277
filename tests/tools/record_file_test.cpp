#include "common/record_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "record_helpers.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;
using test::writeBytes;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A fresh empty folder for one test, removed with everything in it afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::random_device entropy;
    path_ = fs::temp_directory_path() / ("vorlund-records-" + std::to_string(entropy()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const char* name) const { return path_ / name; }
  int entryCount() const {
    int count = 0;
    for ([[maybe_unused]] const fs::directory_entry& entry : fs::directory_iterator(path_)) {
      ++count;
    }
    return count;
  }

 private:
  fs::path path_;
};

// The report's one error (a test failure when there is not exactly one).
std::string onlyError(const RecordReport& report) {
  EXPECT_EQ(1u, report.errors.size());
  return report.errors.empty() ? std::string() : report.errors[0];
}

// Verifies the binary form by the system's own acceptance rule: a 524-byte file with "VRLD"
// and size 524 is taken whatever its version, sanitised with the changes reported and its
// reserved bytes kept; a wrong size field, a wrong magic or a short file is refused, not
// misread as text.
TEST(RecordFileTest, BinaryRecordsFollowTheParamsBinAcceptanceRule) {
  TempFolder folder;
  const fs::path path = folder / "params.bin";
  ParameterBlock written = test::defaultRecord();
  written.version = 7;
  written.compRatio = 50.0f;
  written.effectMode = 3;
  written.reserved[5] = 0x42;
  writeBytes(path, &written, sizeof written);

  ParameterBlock r;
  const RecordReport report = readRecordFile(path, r);
  ASSERT_TRUE(report.ok()) << report.errors.front();
  ASSERT_EQ(1u, report.warnings.size());
  EXPECT_THAT(report.warnings[0], StartsWith(displayPath(path) + ": "));
  EXPECT_THAT(report.warnings[0], HasSubstr("compRatio = 50 clamped to 20"));
  EXPECT_EQ(1u, r.version);
  EXPECT_EQ(20.0f, r.compRatio);
  EXPECT_EQ(3, r.effectMode);
  EXPECT_EQ(0x42, r.reserved[5]);

  ParameterBlock wrongSize = test::defaultRecord();
  wrongSize.size = 523;
  ParameterBlock wrongMagic = test::defaultRecord();
  wrongMagic.magic[3] = 'X';
  const std::pair<const ParameterBlock*, std::size_t> refused[] = {
      {&wrongSize, sizeof wrongSize}, {&wrongMagic, sizeof wrongMagic}, {&written, 500}};
  const ParameterBlock start = test::defaultRecord();
  for (auto [record, size] : refused) {
    SCOPED_TRACE(size);
    writeBytes(path, record, size);
    ParameterBlock untouched = start;
    EXPECT_THAT(onlyError(readRecordFile(path, untouched)),
                HasSubstr("neither a text record nor a binary one"));
    EXPECT_EQ(0, std::memcmp(&untouched, &start, sizeof start));
  }
}

// Verifies that text files are read as text, with messages led by the path, and that missing
// files, folders and oversized files give clear errors.
TEST(RecordFileTest, TextFilesAndUnreadableFiles) {
  TempFolder folder;
  const fs::path path = folder / "voice.vrl";
  const std::string text = "effectMode = 6\ncompRatoi = 2\n";
  writeBytes(path, text.data(), text.size());
  ParameterBlock r;
  EXPECT_THAT(onlyError(readRecordFile(path, r)),
              StartsWith(displayPath(path) + ": line 2: unknown name"));
  EXPECT_THAT(onlyError(readRecordFile(folder / "absent.vrl", r)),
              HasSubstr("absent.vrl: no such file"));
  EXPECT_THAT(onlyError(readRecordFile(folder.path(), r)), HasSubstr("is a folder"));
  const std::string huge(2 << 20, '#');
  writeBytes(path, huge.data(), huge.size());
  EXPECT_THAT(onlyError(readRecordFile(path, r)), HasSubstr("too large"));
}

// Verifies that both written forms read back as the same record and replace the file before
// them, and that a failed write (the target is a folder, or its folder is missing) leaves
// what was there; no temporary file ever remains.
TEST(RecordFileTest, WritesReplaceWholeFilesOrLeaveThemAlone) {
  TempFolder folder;
  const fs::path path = folder / "record";
  ParameterBlock record = test::defaultRecord();
  record.toneAir = -0.25f;
  record.eqBands[7].q = 3.3f;
  for (RecordFileFormat format :
       {RecordFileFormat::Text, RecordFileFormat::Binary, RecordFileFormat::Text}) {
    record.inputGainDb += 1.0f;
    ASSERT_TRUE(writeRecordFile(path, record, format).ok());
    ParameterBlock read;
    const RecordReport report = readRecordFile(path, read);
    ASSERT_TRUE(report.ok() && report.warnings.empty());
    EXPECT_EQ(0, std::memcmp(&record, &read, sizeof read));
    EXPECT_EQ(format == RecordFileFormat::Binary, fs::file_size(path) == sizeof record);
    EXPECT_EQ(1, folder.entryCount());
  }

  const fs::path occupied = folder / "occupied";
  fs::create_directory(occupied);
  EXPECT_THAT(onlyError(writeRecordFile(occupied, record, RecordFileFormat::Text)),
              HasSubstr("cannot replace"));
  EXPECT_TRUE(fs::is_directory(occupied));
  EXPECT_THAT(onlyError(writeRecordFile(folder / "missing" / "params.bin", record,
                                        RecordFileFormat::Binary)),
              HasSubstr("folder does not exist"));
  EXPECT_EQ(2, folder.entryCount());
}

// Verifies that a reader running alongside repeated writes of two records of different
// lengths only ever finds one of them complete, and that the file ends as the last write that
// succeeded. On Windows a file being replaced refuses to open for a moment, and a write fails
// while a reader holds the file open; neither may ever expose a partial or missing file.
TEST(RecordFileThreadTest, ConcurrentReaderSeesOnlyCompleteFiles) {
  TempFolder folder;
  const fs::path path = folder / "params.vrl";
  // Both differ from the defaults in their first and last fields, so that a reader finding
  // an empty or cut-off text (which parses over the defaults) cannot mistake it for either.
  ParameterBlock records[2] = {test::defaultRecord(), test::defaultRecord()};
  for (ParameterBlock& record : records) record.bypass = 1;
  records[0].limiterCeilingDb = -2.0f;
  records[1].limiterCeilingDb = -3.0f;
  records[1].effectMode = 6;
  records[1].effectParam = 0.123456789f;
  records[1].eqBands[4].gainDb = -11.125f;
  ASSERT_TRUE(writeRecordFile(path, records[0], RecordFileFormat::Text).ok());

  std::atomic<bool> writing{true};
  int wholeReads = 0;
  std::vector<std::string> faults;
  std::thread reader([&] {
    // The last pass runs after the writer has finished, so at least one read is certain.
    bool more = true;
    while (more) {
      more = writing.load();
      ParameterBlock read;
      const RecordReport report = readRecordFile(path, read);
      const bool whole = report.ok() && (std::memcmp(&read, &records[0], sizeof read) == 0 ||
                                         std::memcmp(&read, &records[1], sizeof read) == 0);
      // A file being replaced on Windows refuses to open for a moment: not a torn read.
      const bool refused =
          !report.ok() && report.errors[0].ends_with("cannot be opened for reading");
      if (!whole && !refused && faults.size() < 5) {
        faults.push_back(report.ok() ? "a record that was never written" : report.errors[0]);
      }
      wholeReads += whole ? 1 : 0;
    }
  });
  int lastWritten = 0;
  for (int i = 1; i <= 300; ++i) {
    if (writeRecordFile(path, records[i % 2], RecordFileFormat::Text).ok()) lastWritten = i % 2;
  }
  writing = false;
  reader.join();

  EXPECT_TRUE(faults.empty()) << faults.front();
  EXPECT_GT(wholeReads, 0);
  ParameterBlock final;
  ASSERT_TRUE(readRecordFile(path, final).ok());
  EXPECT_EQ(0, std::memcmp(&final, &records[lastWritten], sizeof final));
  EXPECT_EQ(1, folder.entryCount());
}

}  // namespace
}  // namespace vorlund
