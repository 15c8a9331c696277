// A tool run as a separate process, as a user or a script runs it: its exit code and what it
// printed, caught in files.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "temp_data_folder.h"

namespace vorlund::test {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::ostream& operator<<(std::ostream& stream, const ToolRun& run) {
  return stream << "exit " << run.exitCode << "\n--- stdout\n"
                << run.out << "--- stderr\n"
                << run.err;
}

// Windows programs end their text lines with CR LF; the tests read LF only.
inline std::string withoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

// Runs `arguments` (the program first), its output caught in `out` and `err`. The child
// inherits this process's environment, ProgramData included.
inline ToolRun runTool(const std::vector<std::string>& arguments, const fs::path& out,
                       const fs::path& err) {
  ToolRun result;
  result.exitCode =
      runProcess(arguments, Path::fromNative(out.c_str()), Path::fromNative(err.c_str()));
  result.out = withoutCarriageReturns(readBytes(out));
  result.err = withoutCarriageReturns(readBytes(err));
  return result;
}

}  // namespace vorlund::test
