// vorlund-process as the tests run it: a separate process on sound files in a temporary
// folder, its messages and exit code caught, and sound files written and read back with
// libsndfile.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "temp_data_folder.h"
#include "tool_run.h"

namespace vorlund {

namespace fs = std::filesystem;

struct Sound {
  SF_INFO info{};
  std::vector<float> samples;  // interleaved
};

using test::ToolRun;

class ProcessTest : public ::testing::Test {
 protected:
  fs::path file(const std::string& name) const { return temp_.programData() / name; }

  ToolRun run(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), VORLUND_PROCESS);
    arguments.push_back("--presets-dir");
    arguments.push_back(VORLUND_PRESETS_DIR);
    return test::runTool(arguments, file("run.out"), file("run.err"));
  }

  // The argument list a test extends: input and output first.
  std::vector<std::string> files(const fs::path& in, const fs::path& out) const {
    return {in.string(), out.string()};
  }

  test::TempDataFolder temp_;
};

inline void writeSound(const fs::path& path, int format, int rate, int channels,
                       const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.format = format;
  info.samplerate = rate;
  info.channels = channels;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
  ASSERT_NE(nullptr, file) << sf_strerror(nullptr);
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
  sf_close(file);
}

inline Sound readSound(const fs::path& path) {
  Sound sound;
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &sound.info);
  EXPECT_NE(nullptr, file) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return sound;
  sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
  sf_readf_float(file, sound.samples.data(), sound.info.frames);
  sf_close(file);
  return sound;
}

}  // namespace vorlund
