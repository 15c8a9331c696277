// vorlund-process as the tests run it: a separate process on sound files in a temporary
// folder, its messages and exit code caught.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "sound_files.h"
#include "temp_data_folder.h"
#include "tool_run.h"

namespace vorlund {

namespace fs = std::filesystem;

using test::readSound;
using test::Sound;
using test::ToolRun;
using test::writeSound;

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

}  // namespace vorlund
