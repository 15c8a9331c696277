// vorlund-ctl as a separate process against a stream running in this process: records,
// relearn requests, status and meters through shared.bin, and records through params.bin for
// a stream in parameter-file mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "channel/parameter_channel.h"
#include "common/preset_library.h"
#include "common/record_fields.h"
#include "record_helpers.h"
#include "tools/ctl_harness.h"
#include "tools/json_check.h"

#if !VORLUND_WINDOWS
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vorlund {
namespace {

using test::BackgroundStream;
using test::runCtl;
using test::sameRecord;
using test::ToolRun;
using ::testing::HasSubstr;

// With every other stage off, only the two gains shape the level of a sine, so the measured
// gain tells which record a block ran with.
std::vector<std::string> gainsOnly(std::vector<std::string> more = {}) {
  std::vector<std::string> arguments = {
      "set",         "highPassEnabled=0", "nsEnabled=0",   "plosiveEnabled=0",
      "eqEnabled=0", "deEsserEnabled=0",  "compEnabled=0", "limiterEnabled=0"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

// Blocks after a record is applied until its gain shows on the output: the chain's delay is
// under three blocks.
constexpr std::size_t kSettleBlocks = 4;

// The gain of the block `kSettleBlocks` after block `first`, once it has run.
double settledGainDb(BackgroundStream& stream, std::size_t first) {
  while (stream.blockCount() <= first + kSettleBlocks) stream.waitForBlocks(1);
  return stream.blocks()[first + kSettleBlocks].gainDb;
}

// Puts every shipped preset in force through vorlund-ctl (which finds them beside itself) and
// waits for the stream to run each exactly.
void applyEveryPreset(const test::TempDataFolder& temp, BackgroundStream& stream) {
  const std::filesystem::path folder = VORLUND_PRESETS_DIR;
  const std::vector<PresetInfo> presets = listPresets(folder);
  ASSERT_GE(presets.size(), 10u);
  for (const PresetInfo& preset : presets) {
    SCOPED_TRACE(preset.name);
    ParameterBlock expected;
    ASSERT_TRUE(loadPreset(folder, preset.name, expected).ok());
    const ToolRun result = runCtl(temp, {"preset", preset.name});
    ASSERT_EQ(0, result.exitCode) << result;
    EXPECT_TRUE(stream.waitForRecord(
        [&](const ParameterBlock& running) { return sameRecord(expected, running); }));
  }
  const ToolRun listed = runCtl(temp, {"presets"});
  ASSERT_EQ(0, listed.exitCode) << listed;
  for (const PresetInfo& preset : presets) EXPECT_THAT(listed.out, HasSubstr(preset.name));
  EXPECT_THAT(listed.out, HasSubstr("* " + presets.back().name + " "));
}

// Verifies that 'set' publishes into shared.bin by the writer's protocol (the counter moves by
// 2) and that the very next block applies it, observed on the audio: 0 dB before, +12 dB once
// the chain's delay has passed; that params.bin holds the same record; that 'show --json'
// reads it back; and that every preset is applied exactly.
TEST(CtlStreamTest, SetChangesTheProcessingAtTheNextBlock) {
  test::TempDataFolder temp;
  BackgroundStream stream;
  stream.start();
  ASSERT_TRUE(stream.shared());
  ToolRun result = runCtl(temp, gainsOnly());
  ASSERT_EQ(0, result.exitCode) << result;
  const std::uint32_t counter = loadChangeCounter(stream.block());
  ASSERT_TRUE(stream.waitForCounter(counter));
  stream.waitForBlocks(kSettleBlocks * 5);

  result = runCtl(temp, {"set", "inputGainDb=12"});
  const std::size_t blocksAtReturn = stream.blockCount();
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("inputGainDb  0 -> 12"));
  EXPECT_EQ(counter + 2, loadChangeCounter(stream.block()));
  const std::optional<std::size_t> first = stream.waitForCounter(counter + 2);
  ASSERT_TRUE(first);
  ASSERT_GT(*first, 0u);
  EXPECT_LE(*first, blocksAtReturn);
  EXPECT_NEAR(0.0, stream.blocks()[*first - 1].gainDb, 0.1);
  EXPECT_NEAR(12.0, settledGainDb(stream, *first), 0.1);

  ParameterBlock saved;
  ASSERT_TRUE(readParameterFile(saved));
  EXPECT_TRUE(sameRecord(saved, stream.params()));
  result = runCtl(temp, {"show", "--json"});
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_TRUE(test::isValidJson(result.out)) << result.out;
  EXPECT_EQ(12.0, test::jsonNumber(result.out, "inputGainDb"));
  EXPECT_EQ("false", test::jsonMember(result.out, "nsEnabled"));

  applyEveryPreset(temp, stream);
}

// Verifies that 'relearn' restarts the suppressor's learning exactly once, at the first block
// after it returned: the learning frame count drops once and then grows again.
TEST(CtlStreamTest, RelearnRestartsNoiseLearningOnce) {
  test::TempDataFolder temp;
  BackgroundStream stream;
  stream.start();
  stream.waitForBlocks(50);
  const ToolRun result = runCtl(temp, {"relearn"});
  const std::size_t blocksAtReturn = stream.blockCount();
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("restarts its noise learning"));
  stream.waitForBlocks(50);

  const std::vector<BackgroundStream::Block> blocks = stream.blocks();
  std::vector<std::size_t> drops;
  for (std::size_t i = 1; i < blocks.size(); ++i)
    if (blocks[i].noiseFrames < blocks[i - 1].noiseFrames) drops.push_back(i);
  ASSERT_EQ(1u, drops.size());
  EXPECT_LE(drops[0], blocksAtReturn);
  EXPECT_GT(blocks.back().noiseFrames, blocks[drops[0]].noiseFrames);
}

// Verifies that 'status' and 'meters' tell a live stream (exit code 0, its format, latency
// and levels: a -20 dBFS sine has a -20 dB peak and a -23 dB RMS), then a stalled one that
// stays locked without blocks (stale, exit code 1), then a stopped one (no active stream, the
// meters of its last block kept), in text, in valid JSON and line by line.
TEST(CtlStreamTest, StatusAndMetersFollowTheStream) {
  test::TempDataFolder temp;
  BackgroundStream stream;
  stream.start();
  stream.waitForBlocks(20);

  ToolRun status = runCtl(temp, {"status"});
  EXPECT_EQ(0, status.exitCode) << status;
  EXPECT_THAT(status.out, HasSubstr("live: 1 active stream, blocks coming"));
  EXPECT_THAT(status.out, HasSubstr("48000 Hz, 2 channels"));
  EXPECT_THAT(status.out, HasSubstr(std::to_string(stream.latencySamples()) + " samples"));
  EXPECT_THAT(status.out, HasSubstr("mode         shared"));

  ToolRun meters = runCtl(temp, {"meters", "--once", "--json"});
  ASSERT_EQ(0, meters.exitCode) << meters;
  EXPECT_TRUE(test::isValidJson(meters.out)) << meters.out;
  EXPECT_EQ("live", test::jsonMember(meters.out, "stream"));
  EXPECT_EQ(1.0, test::jsonNumber(meters.out, "activeStreams"));
  EXPECT_EQ(48000.0, test::jsonNumber(meters.out, "sampleRate"));
  EXPECT_EQ(2.0, test::jsonNumber(meters.out, "channels"));
  EXPECT_NEAR(-20.0, test::jsonNumber(meters.out, "inputPeakDb").value_or(0.0), 0.1);
  EXPECT_NEAR(-23.01, test::jsonNumber(meters.out, "inputRmsDb").value_or(0.0), 0.1);
  EXPECT_GT(test::jsonNumber(meters.out, "processingLoad").value_or(0.0), 0.0);
  meters = runCtl(temp, {"meters", "--count", "3", "--interval", "20"});
  ASSERT_EQ(0, meters.exitCode) << meters;
  EXPECT_EQ(3, std::count(meters.out.begin(), meters.out.end(), '\n')) << meters.out;
  EXPECT_THAT(meters.out, HasSubstr("stream=live blocks="));
  EXPECT_THAT(meters.out, HasSubstr("inputPeakDb=-20.0"));

  stream.pause();
  status = runCtl(temp, {"status", "--json"});
  EXPECT_EQ(1, status.exitCode) << status;
  EXPECT_TRUE(test::isValidJson(status.out)) << status.out;
  EXPECT_EQ("stale", test::jsonMember(status.out, "stream"));
  meters = runCtl(temp, {"meters", "--once"});
  EXPECT_THAT(meters.out, HasSubstr("!! stale: 1 stream counted as active"));

  stream.stop();
  status = runCtl(temp, {"status"});
  EXPECT_EQ(1, status.exitCode) << status;
  EXPECT_THAT(status.out, HasSubstr("stopped: no active stream"));
  meters = runCtl(temp, {"meters", "--once", "--json"});
  ASSERT_EQ(0, meters.exitCode) << meters;
  EXPECT_EQ("stopped", test::jsonMember(meters.out, "stream"));
  EXPECT_EQ(0.0, test::jsonNumber(meters.out, "activeStreams"));
  EXPECT_NEAR(-20.0, test::jsonNumber(meters.out, "inputPeakDb").value_or(0.0), 0.1);
}

// Verifies the recovery of a writer that stopped half-way (counter left odd, part of a record
// copied): the stream keeps its record meanwhile; 'show' warns and shows params.bin; the next
// 'set' builds on params.bin rather than the torn area, raises the counter to even before
// publishing (c+1 odd -> c+4), and the stream applies exactly that record.
TEST(CtlStreamTest, SetRecoversFromAWriterThatStoppedHalfWay) {
  test::TempDataFolder temp;
  BackgroundStream stream;
  stream.start();
  ToolRun result = runCtl(temp, gainsOnly());
  ASSERT_EQ(0, result.exitCode) << result;
  SharedBlock& block = stream.block();
  const std::uint32_t counter = loadChangeCounter(block);
  ASSERT_TRUE(stream.waitForCounter(counter));

  ParameterBlock torn = stream.params();
  torn.inputGainDb = 25.0f;
  sharedWord(block.changeCounter).store(counter + 1);
  std::uint32_t words[8];
  std::memcpy(words, &torn, sizeof words);
  for (int i = 0; i < 8; ++i) sharedWord(block.parameterArea[i]).store(words[i]);
  stream.waitForBlocks(10);
  EXPECT_EQ(counter, stream.blocks().back().appliedCounter);
  EXPECT_EQ(0.0f, stream.params().inputGainDb);

  result = runCtl(temp, {"show"});
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.err, HasSubstr("stopped half-way"));
  EXPECT_THAT(result.out, HasSubstr("inputGainDb = 0\n"));

  result = runCtl(temp, {"set", "outputGainDb=-6"});
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.err, HasSubstr("stopped half-way"));
  EXPECT_EQ(counter + 4, loadChangeCounter(block));
  const std::optional<std::size_t> first = stream.waitForCounter(counter + 4);
  ASSERT_TRUE(first);
  ParameterBlock expected;
  ASSERT_TRUE(readParameterFile(expected));
  EXPECT_EQ(-6.0f, expected.outputGainDb);
  EXPECT_EQ(0.0f, expected.inputGainDb);
  EXPECT_EQ(0, expected.nsEnabled);
  EXPECT_TRUE(sameRecord(expected, stream.params()));
  EXPECT_NEAR(-6.0, settledGainDb(stream, *first), 0.1);
}

// Verifies a stream in parameter-file mode (shared.bin could not be created when it locked,
// and is absent now): 'set' saves params.bin, which the stream takes up and applies (seen on
// the audio), every preset reaches it the same way, 'show' reads params.bin back, and 'status'
// and 'relearn', which need shared.bin, say so with exit code 4.
TEST(CtlStreamTest, ParameterFileModeTakesRecordsThroughParamsBin) {
  test::TempDataFolder temp;
  std::filesystem::create_directory(temp.file("shared.bin"));
  BackgroundStream stream;
  stream.start();
  ASSERT_FALSE(stream.shared());
  std::filesystem::remove(temp.file("shared.bin"));

  ToolRun result = runCtl(temp, gainsOnly({"inputGainDb=-6"}));
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("no shared.bin"));
  EXPECT_FALSE(std::filesystem::exists(temp.file("shared.bin")));
  ASSERT_TRUE(stream.waitForRecord(
      [](const ParameterBlock& p) { return p.inputGainDb == -6.0f && p.compEnabled == 0; }));
  // Switching the suppressor off lets its smoothed gains recover first.
  EXPECT_NEAR(-6.0, settledGainDb(stream, stream.blockCount() + 5 * kSettleBlocks), 0.1);

  result = runCtl(temp, {"show"});
  ASSERT_EQ(0, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("# record in force: params.bin"));
  EXPECT_THAT(result.out, HasSubstr("inputGainDb = -6\n"));
  result = runCtl(temp, {"status"});
  EXPECT_EQ(1, result.exitCode) << result;
  EXPECT_THAT(result.out, HasSubstr("params.bin   valid"));
  result = runCtl(temp, {"relearn"});
  EXPECT_EQ(4, result.exitCode) << result;
  EXPECT_THAT(result.err, HasSubstr("relearn needs shared.bin"));

  applyEveryPreset(temp, stream);
}

// Verifies that writers started at once do not lose each other's changes: ten `set`s of
// ten different bands, all running together, each end up in the record in force.
TEST(CtlStreamTest, ConcurrentSetsAllSurvive) {
  test::LockedStream stream(1);
  constexpr int kWriters = ParameterBlock::kBandCount;
  std::vector<std::thread> writers;
  std::vector<int> exitCodes(kWriters, -1);
  for (int band = 0; band < kWriters; ++band) {
    writers.emplace_back([&, band] {
      const std::string name = "writer" + std::to_string(band);
      const std::vector<std::string> arguments = {
          test::fs::path(VORLUND_CTL).make_preferred().string(), "set",
          "eqBands[" + std::to_string(band) + "].gainDb=" + std::to_string(band + 1)};
      const test::fs::path out = stream.temp.programData() / (name + ".out");
      const test::fs::path err = stream.temp.programData() / (name + ".err");
      exitCodes[band] =
          runProcess(arguments, Path::fromNative(out.c_str()), Path::fromNative(err.c_str()));
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(std::vector<int>(kWriters, 0), exitCodes);
  ParameterBlock record;
  std::uint32_t counter = 0;
  ASSERT_TRUE(readSnapshot(stream.block(), record, counter));
  for (int band = 0; band < kWriters; ++band)
    EXPECT_EQ(static_cast<float>(band + 1), record.eqBands[band].gainDb) << "band " << band;
}

#if !VORLUND_WINDOWS
// Runs vorlund-ctl as the user nobody (root only); its standard output and error in `text`.
int runCtlAsNobody(const std::vector<std::string>& arguments, std::string& text) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 2);
    close(pipeEnds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    std::vector<char*> argv;
    std::string program = VORLUND_CTL;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Verifies that a user who may read shared.bin but not write it can use the commands that
// only look (show, status, meters, presets), while a write is refused with exit 5.
TEST(CtlStreamTest, ReadOnlyCommandsNeedOnlyReadAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "not root: cannot run vorlund-ctl as another user";
  test::LockedStream stream(1);
  stream.run(0.1f);
  const std::string folder = stream.temp.dataFolder().string();
  const std::string presets = VORLUND_PRESETS_DIR;
  const std::vector<std::vector<std::string>> readers = {
      {"show", "--data-dir", folder},
      {"status", "--data-dir", folder},
      {"meters", "--once", "--data-dir", folder},
      {"presets", "--data-dir", folder, "--presets-dir", presets}};
  for (const std::vector<std::string>& arguments : readers) {
    std::string text;
    const int exitCode = runCtlAsNobody(arguments, text);
    // status says 1 when the stream is not live: here it has stopped after one block.
    EXPECT_TRUE(exitCode == 0 || (arguments[0] == "status" && exitCode == 1))
        << arguments[0] << ": exit " << exitCode << "\n"
        << text;
  }
  std::string text;
  EXPECT_EQ(5, runCtlAsNobody({"set", "inputGainDb=3", "--data-dir", folder}, text)) << text;
}
#endif

}  // namespace
}  // namespace vorlund
