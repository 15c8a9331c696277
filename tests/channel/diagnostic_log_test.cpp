#include "channel/diagnostic_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/system.h"
#include "temp_data_folder.h"

#if !VORLUND_WINDOWS
#include <unistd.h>
#endif

namespace vorlund {
namespace {

using test::TempDataFolder;

std::string stamp(const LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// Verifies the line format: local time to the second (within the time of the call), the
// process id in brackets, one blank, the message cut to 511 characters, and CRLF.
TEST(DiagnosticLogTest, LineFormat) {
  TempDataFolder temp;
  const std::string before = stamp(localTime());
  logLine("LockForProcess: %.0f Hz, %u ch", 48000.0, 2u);
  logLine("%s", std::string(600, 'm').c_str());
  const std::string after = stamp(localTime());

  std::string id = " [";  // built piecewise: GCC 12 misreads "text" + std::string at -O3
  id += std::to_string(currentProcessId());
  id += "] ";
  const std::string first = id + "LockForProcess: 48000 Hz, 2 ch\r\n";
  const std::string second = id + std::string(511, 'm') + "\r\n";
  const std::string text = test::readBytes(temp.file("apo.log"));
  ASSERT_EQ(19 + first.size() + 19 + second.size(), text.size()) << text;
  EXPECT_EQ(first, text.substr(19, first.size()));
  EXPECT_EQ(second, text.substr(19 + first.size() + 19));
  for (const std::string& time : {text.substr(0, 19), text.substr(19 + first.size(), 19)}) {
    EXPECT_LE(before, time);
    EXPECT_GE(after, time);
  }
}

// Verifies rotation: a log of exactly 262,144 bytes keeps growing; once larger, the next line
// first moves it to apo.old.log (replacing an older one) and starts a new apo.log.
TEST(DiagnosticLogTest, RotatesOnlyPastTheThreshold) {
  TempDataFolder temp;
  const std::string full(262144, 'a');
  test::writeBytes(temp.file("apo.log"), full.data(), full.size());
  logLine("first");
  EXPECT_FALSE(test::fs::exists(temp.file("apo.old.log")));
  const std::uintmax_t grown = test::fs::file_size(temp.file("apo.log"));
  EXPECT_GT(grown, 262144u);
  logLine("second");
  EXPECT_EQ(grown, test::fs::file_size(temp.file("apo.old.log")));
  EXPECT_EQ(std::vector<std::string>{"second"}, test::logMessages(temp.file("apo.log")));

  const std::string overFull(262145, 'b');
  test::writeBytes(temp.file("apo.log"), overFull.data(), overFull.size());
  logLine("third");
  EXPECT_EQ(overFull, test::readBytes(temp.file("apo.old.log")));
  EXPECT_EQ(std::vector<std::string>{"third"}, test::logMessages(temp.file("apo.log")));
}

// Verifies the Temp fallback: without the data folder, or when apo.log there cannot be
// opened, the line goes to the Temp fallback; the data folder is never created. A link at
// apo.log is not followed: its target stays as it was and the fallback says why.
TEST(DiagnosticLogTest, FallsBackToTheTempFolder) {
  const std::string marker = std::string("marker ") + std::to_string(tickCount64());
  TempDataFolder temp(false);
  logLine("%s without folder", marker.c_str());
  EXPECT_FALSE(test::fs::exists(temp.dataFolder()));
  temp.create();
  test::fs::create_directory(temp.file("apo.log"));  // a folder where the file should be
  logLine("%s refused", marker.c_str());
  std::vector<std::string> messages = test::tempLogMessages();
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(), marker + " without folder"));
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(), marker + " refused"));
#if !VORLUND_WINDOWS
  // Private to this user, inside the test's own folder.
  const test::fs::path fallback = test::toFsPath(logTempFolder());
  EXPECT_EQ(temp.programData() / ("vorlund-" + std::to_string(geteuid())), fallback);
  EXPECT_EQ(test::fs::perms::owner_all,
            test::fs::status(fallback).permissions() & test::fs::perms::all);

  const test::fs::path target = temp.programData() / "target";
  test::writeBytes(target, "kept", 4);
  test::fs::remove(temp.file("apo.log"));
  test::fs::create_symlink(target, temp.file("apo.log"));
  logLine("%s linked", marker.c_str());
  EXPECT_EQ("kept", test::readBytes(target));
  messages = test::tempLogMessages();
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(), marker + " linked"));
  EXPECT_EQ(1, std::count(messages.begin(), messages.end(),
                          "apo.log in the data folder refused: a link or reparse point"));

  // A fallback folder another user could enter is not used.
  test::fs::permissions(fallback, test::fs::perms::group_write, std::filesystem::perm_options::add);
  EXPECT_FALSE(logTempFolder().valid());
#endif
}

// Verifies the data folder: %ProgramData%\Vorlund while the variable expands, the fixed
// ProgramData folder when it is undefined or longer than a path may be.
TEST(DiagnosticLogTest, DataFolderFollowsProgramData) {
  TempDataFolder temp;
  EXPECT_EQ(temp.dataFolder(), test::toFsPath(dataFolder()));
  const auto isFallback = [](const std::string& folder) {
    return folder == "/var/lib/Vorlund" || folder == "C:\\ProgramData\\Vorlund";
  };
  // Without ProgramData, Linux takes /var/lib/Vorlund when it exists and a per-user install's
  // folder otherwise; Windows always the system-wide one.
  const char* savedState = std::getenv("XDG_STATE_HOME");
  const std::string keptState = savedState != nullptr ? savedState : "";
  setEnvironmentVariable("XDG_STATE_HOME", "/home/someone/state");
  const auto isFallbackOrUser = [&](const DataFolderChoice& choice) {
    const std::string folder = choice.folder.toUtf8();
    return choice.scope == DataFolderScope::perUser ? folder == "/home/someone/state/vorlund"
                                                    : isFallback(folder);
  };
  setEnvironmentVariable("ProgramData", nullptr);
  EXPECT_TRUE(isFallbackOrUser(chooseDataFolder())) << dataFolder().toUtf8();
  setEnvironmentVariable("ProgramData", std::string(270, 'p').c_str());
  EXPECT_TRUE(isFallbackOrUser(chooseDataFolder())) << dataFolder().toUtf8();
  setEnvironmentVariable("XDG_STATE_HOME", savedState != nullptr ? keptState.c_str() : nullptr);
}

}  // namespace
}  // namespace vorlund
