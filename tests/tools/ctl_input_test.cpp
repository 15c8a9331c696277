// vorlund-ctl's answers to bad input and unusable files: a clear message, a distinct exit
// code, and nothing written that should not be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "channel/parameter_channel.h"
#include "tools/ctl_harness.h"

namespace vorlund {
namespace {

using test::runCtl;
using test::ToolRun;
using ::testing::HasSubstr;

using Arguments = std::vector<std::string>;

// Verifies the data folder's failures: none at all (3, for reading and writing alike), a
// folder without shared.bin (4 where the block is needed; 'show' falls back to the defaults;
// 'set' writes params.bin into the folder --data-dir names and nowhere else), and a folder
// where shared.bin should be (5, and nothing written).
TEST(CtlInputTest, DataFolderProblemsHaveTheirExitCodes) {
  test::TempDataFolder temp(false);
  for (const Arguments& arguments :
       {Arguments{"status"}, Arguments{"set", "inputGainDb=1"}, Arguments{"show"}}) {
    const ToolRun result = runCtl(temp, arguments);
    EXPECT_EQ(3, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr("does not exist"));
  }

  temp.create();
  for (const char* command : {"relearn", "meters"}) {
    const ToolRun result = runCtl(temp, {command, "--data-dir", temp.dataFolder().string()});
    EXPECT_EQ(4, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr("shared.bin does not exist"));
  }
  // Before any stream has run: no stream is live, which is what status says.
  ToolRun result = runCtl(temp, {"status"});
  EXPECT_EQ(1, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("stream       stopped"));
  result = runCtl(temp, {"show"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("factory defaults"));
  const test::fs::path elsewhere = temp.programData() / "Elsewhere";
  test::fs::create_directory(elsewhere);
  result = runCtl(temp, {"--data-dir", elsewhere.string(), "set", "inputGainDb=2"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_EQ(ParameterBlock::kSize, test::fs::file_size(elsewhere / "params.bin"));
  EXPECT_FALSE(test::fs::exists(temp.file("params.bin")));

  test::fs::create_directory(temp.file("shared.bin"));
  for (const Arguments& arguments :
       {Arguments{"set", "inputGainDb=3"}, Arguments{"show"}, Arguments{"status"}}) {
    result = runCtl(temp, arguments);
    EXPECT_EQ(5, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr("no permission"));
  }
  EXPECT_FALSE(test::fs::exists(temp.file("params.bin")));
}

// Verifies that every kind of bad command line or record input is refused with exit code 2
// and a message that helps (the nearest name for a misspelt one), leaving the counter and
// params.bin untouched; that --dry-run writes nothing; that a clamped value warns and applies
// its bound; and that a record printed by 'show' loads back.
TEST(CtlInputTest, RecordInputIsCheckedBeforeAnythingIsWritten) {
  test::TempDataFolder temp;
  ParameterChannel channel;
  channel.open();
  ASSERT_TRUE(channel.isShared());
  SharedBlock& block = *channel.activeBlock();
  const std::uint32_t counter = loadChangeCounter(block);

  const std::string missingFile = (temp.programData() / "missing.vrl").string();
  const std::pair<Arguments, std::string> refusals[] = {
      {{"set", "inputGainD=3"}, "unknown name 'inputGainD'; did you mean 'inputGainDb'?"},
      {{"set", "inputGainDb=loud"}, "inputGainDb: 'loud' is not a number"},
      {{"set", "gateEnabled=maybe"}, "is not a flag"},
      {{"set", "inputGainDb"}, "expected 'name = value'"},
      {{"set", "compRatio=4", "magic=1"}, "belongs to the record header"},
      {{"set"}, "usage: vorlund-ctl set NAME=VALUE..."},
      {{"load", missingFile}, "no such file"},
      {{"preset", "podcats"}, "did you mean 'podcast'?"},
      {{"stauts"}, "unknown command 'stauts'; did you mean 'status'?"},
      {{"show", "--dry-run"}, "--dry-run does not apply to 'show'"},
      {{"meters", "--interval", "5"}, "--interval takes a whole number from 10"},
      {{"status", "--jsn"}, "did you mean '--json'?"},
      {{"--no-such-option", "show"},
       "unknown option '--no-such-option' (see 'vorlund-ctl --help')"},
  };
  for (const auto& [arguments, message] : refusals) {
    const ToolRun result = runCtl(temp, arguments);
    EXPECT_EQ(2, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr(message));
  }
  ToolRun result = runCtl(temp, {"set", "--dry-run", "inputGainDb=3"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("inputGainDb  0 -> 3"));
  EXPECT_THAT(result.out, HasSubstr("dry run: nothing written"));
  EXPECT_EQ(counter, loadChangeCounter(block));
  EXPECT_FALSE(test::fs::exists(temp.file("params.bin")));

  result = runCtl(temp, {"set", "compRatio=50", "eqBands[3].gainDb=-4.5"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.err, HasSubstr("compRatio = 50 clamped to 20"));
  EXPECT_THAT(result.out, HasSubstr(" 3 -> 20\n"));
  EXPECT_THAT(result.out, HasSubstr("eqBands[3].gainDb  0 -> -4.5"));
  EXPECT_EQ(counter + 2, loadChangeCounter(block));
  ParameterBlock published;
  std::uint32_t publishedCounter = 0;
  ASSERT_TRUE(readSnapshot(block, published, publishedCounter));
  EXPECT_EQ(20.0f, published.compRatio);
  EXPECT_EQ(-4.5f, published.eqBands[3].gainDb);

  const test::fs::path saved = temp.programData() / "saved.vrl";
  result = runCtl(temp, {"show"});
  ASSERT_EQ(0, result.exitCode) << result;
  test::writeBytes(saved, result.out.data(), result.out.size());
  ASSERT_EQ(0, runCtl(temp, {"reset-defaults"}).exitCode);
  ASSERT_TRUE(readSnapshot(block, published, publishedCounter));
  EXPECT_EQ(3.0f, published.compRatio);
  result = runCtl(temp, {"load", saved.string()});
  EXPECT_EQ(0, result.exitCode) << result;
  ASSERT_TRUE(readSnapshot(block, published, publishedCounter));
  EXPECT_EQ(20.0f, published.compRatio);
  EXPECT_EQ(-4.5f, published.eqBands[3].gainDb);

  result = runCtl(temp, {"relearn"});
  EXPECT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("no stream is processing blocks"));
  EXPECT_EQ(1u, sharedWord(block.relearnCounter).load());
}

// Verifies that a shared.bin this program does not understand (another magic, an empty
// header, another layout version or size, a file shorter than a block) is named with what is
// wrong, exit code 4, and never written: 'set' refuses before saving anything.
TEST(CtlInputTest, ForeignSharedFilesAreLeftAlone) {
  test::TempDataFolder temp;
  SharedBlock valid{};
  initialiseBlock(valid);
  const auto variant = [&](auto change) {
    std::string bytes(ParameterChannel::kSharedFileBytes, '\0');
    std::memcpy(bytes.data(), &valid, sizeof valid);
    change(bytes);
    return bytes;
  };
  const auto putWord = [](std::string& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
  };
  const std::pair<std::string, std::string> cases[] = {
      {variant([&](std::string& b) { std::memcpy(b.data(), "ABCD", 4); }),
       "its magic is \"ABCD\", expected \"VRLS\""},
      {variant([&](std::string& b) { putWord(b, 0, 0); }), "its header is empty"},
      {variant([&](std::string& b) { putWord(b, 4, 1); }), "its layout version is 1"},
      {variant([&](std::string& b) { putWord(b, 8, 700); }),
       "its header gives a size of 700 bytes"},
      {variant([](std::string& b) { b.resize(100); }), "it is 100 bytes long"},
  };
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message);
    test::writeBytes(temp.file("shared.bin"), bytes.data(), bytes.size());
    ToolRun result = runCtl(temp, {"status"});
    EXPECT_EQ(4, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr("is not a Vorlund shared block: " + message));
    result = runCtl(temp, {"set", "inputGainDb=1"});
    EXPECT_EQ(4, result.exitCode) << result;
    EXPECT_THAT(result.err, HasSubstr("left alone"));
    EXPECT_EQ(bytes, test::readBytes(temp.file("shared.bin")));
    EXPECT_FALSE(test::fs::exists(temp.file("params.bin")));
  }

#if !VORLUND_WINDOWS
  // Cut to nothing while 'meters' reads it (Windows refuses to shrink a mapped file): a
  // message and exit code 4, never SIGBUS.
  const std::string intact = variant([](std::string&) {});
  test::writeBytes(temp.file("shared.bin"), intact.data(), intact.size());
  test::fs::remove(temp.programData() / "ctl.out");
  ToolRun meters;
  std::thread reader([&] {
    meters = runCtl(temp, {"meters", "--interval", "20", "--count", "5000"});
  });
  const std::uint64_t deadline = tickCount64() + test::kPatienceMs;
  while (test::readBytes(temp.programData() / "ctl.out").empty() && tickCount64() < deadline)
    sleepMilliseconds(5);
  test::fs::resize_file(temp.file("shared.bin"), 0);
  reader.join();
  EXPECT_EQ(4, meters.exitCode) << meters;
  EXPECT_THAT(meters.err, HasSubstr("was cut short while in use (it is now 0 bytes"));
#endif
}

// Verifies that every command has its help with an example (also as 'help COMMAND'), and that
// the overview lists every command and the exit codes.
TEST(CtlInputTest, EveryCommandHasHelpWithAnExample) {
  test::TempDataFolder temp;
  const char* commands[] = {"status",         "show",    "set",    "load",
                            "preset",         "presets", "mute",   "bypass",
                            "reset-defaults", "relearn", "meters", "help"};
  ToolRun overview = runCtl(temp, {"--help"});
  EXPECT_EQ(0, overview.exitCode) << overview;
  EXPECT_THAT(overview.out, HasSubstr("exit codes:"));
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    EXPECT_THAT(overview.out, HasSubstr(std::string("\n  ") + command + " "));
    const ToolRun help = runCtl(temp, {command, "--help"});
    EXPECT_EQ(0, help.exitCode) << help;
    EXPECT_THAT(help.out, HasSubstr(std::string("usage: vorlund-ctl ") + command));
    EXPECT_THAT(help.out, HasSubstr(std::string("example:")));
    EXPECT_THAT(help.out, HasSubstr(std::string("  vorlund-ctl ") + command));
  }
  const ToolRun viaHelp = runCtl(temp, {"help", "meters"});
  EXPECT_THAT(viaHelp.out, HasSubstr("usage: vorlund-ctl meters")) << viaHelp;
  overview = runCtl(temp, {});
  EXPECT_EQ(2, overview.exitCode) << overview;
  EXPECT_THAT(overview.err, HasSubstr("no command given"));
}

}  // namespace
}  // namespace vorlund
