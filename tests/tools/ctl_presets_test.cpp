// vorlund-ctl's presets as a user keeps them: the shipped ones inside the program, the user's
// own saved, listed, put in force and deleted, and the one-word mute and bypass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "tools/ctl_harness.h"

namespace vorlund {
namespace {

using test::runCtl;
using test::ToolRun;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

// The user's configuration folders point into the temporary folder for the test's life.
class UserFolders {
 public:
  explicit UserFolders(const test::TempDataFolder& temp) {
    const std::string config = (temp.programData() / "config").string();
    setEnvironmentVariable("XDG_CONFIG_HOME", config.c_str());
    setEnvironmentVariable("APPDATA", config.c_str());
  }
  ~UserFolders() {
    setEnvironmentVariable("XDG_CONFIG_HOME", nullptr);
    setEnvironmentVariable("APPDATA", nullptr);
  }
  UserFolders(const UserFolders&) = delete;
  UserFolders& operator=(const UserFolders&) = delete;
};

// Verifies a user preset's life: saved from the record in force, listed with the shipped
// ones and marked while in force, put in force again after a reset, and deleted; shipped
// names and command words cannot be saved over, shipped presets cannot be deleted.
TEST(CtlPresetsTest, UserPresetsAreSavedListedLoadedAndDeleted) {
  test::TempDataFolder temp;
  const UserFolders folders(temp);
  ASSERT_EQ(0, runCtl(temp, {"set", "inputGainDb=7", "compRatio=5"}).exitCode);
  ToolRun result = runCtl(temp, {"preset", "save", "evening"});
  ASSERT_EQ(0, result.exitCode) << result;

  result = runCtl(temp, {"presets"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("* evening"));
  EXPECT_THAT(result.out, HasSubstr("  podcast"));

  ASSERT_EQ(0, runCtl(temp, {"reset-defaults"}).exitCode);
  result = runCtl(temp, {"preset", "evening"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("inputGainDb  0 -> 7"));
  EXPECT_THAT(result.out, HasSubstr("compRatio    3 -> 5"));

  for (const char* name : {"podcast", "save", "../evening"}) {
    SCOPED_TRACE(name);
    result = runCtl(temp, {"preset", "save", name});
    EXPECT_EQ(2, result.exitCode) << result;
  }
  result = runCtl(temp, {"preset", "delete", "podcast"});
  EXPECT_EQ(2, result.exitCode) << result;
  EXPECT_THAT(result.err, HasSubstr("shipped"));

  ASSERT_EQ(0, runCtl(temp, {"preset", "delete", "evening"}).exitCode);
  result = runCtl(temp, {"presets"});
  EXPECT_THAT(result.out, Not(HasSubstr("evening")));
  EXPECT_EQ(2, runCtl(temp, {"preset", "evening"}).exitCode);
}

// Verifies that the program copied on its own into an empty folder still lists and applies
// every shipped preset.
TEST(CtlPresetsTest, ALoneExecutableHasTheShippedPresets) {
  test::TempDataFolder temp;
  const UserFolders folders(temp);
  const fs::path lone = temp.programData() / "lone" / fs::path(VORLUND_CTL).filename();
  fs::create_directories(lone.parent_path());
  fs::copy_file(fs::path(VORLUND_CTL), lone);
  const fs::path out = temp.programData() / "lone.out", err = temp.programData() / "lone.err";
  const auto runLone = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), lone.string());
    const int code =
        runProcess(arguments, Path::fromNative(out.c_str()), Path::fromNative(err.c_str()));
    return std::make_pair(code, test::withoutCarriageReturns(test::readBytes(out)));
  };
  const auto [listed, list] = runLone({"presets"});
  EXPECT_EQ(0, listed) << list << test::readBytes(err);
  for (const char* name : {"default", "podcast", "meeting", "streaming-fan", "telephone", "echo"})
    EXPECT_THAT(list, HasSubstr(std::string(" ") + name + " ")) << name;
  const auto [applied, changes] = runLone({"preset", "telephone"});
  EXPECT_EQ(0, applied) << changes << test::readBytes(err);
  EXPECT_THAT(changes, HasSubstr("effectMode"));
}

// Verifies mute and bypass: on, off and toggle from the record in force, and a wrong word
// refused with nothing changed.
TEST(CtlPresetsTest, MuteAndBypassTakeOnOffAndToggle) {
  test::TempDataFolder temp;
  struct Step {
    std::vector<std::string> arguments;
    const char* change;  // as the command prints it
  };
  const Step steps[] = {
      {{"mute", "on"}, "mute  0 -> 1"},         {{"mute", "toggle"}, "mute  1 -> 0"},
      {{"bypass", "toggle"}, "bypass  0 -> 1"}, {{"bypass", "off"}, "bypass  1 -> 0"},
      {{"mute", "off"}, "no change"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.arguments[0] + " " + step.arguments[1]);
    const ToolRun result = runCtl(temp, step.arguments);
    EXPECT_EQ(0, result.exitCode) << result;
    EXPECT_THAT(result.out, HasSubstr(step.change));
  }
  const ToolRun wrong = runCtl(temp, {"bypass", "maybe"});
  EXPECT_EQ(2, wrong.exitCode) << wrong;
  EXPECT_THAT(runCtl(temp, {"show"}).out, HasSubstr("bypass = 0"));
}

}  // namespace
}  // namespace vorlund
