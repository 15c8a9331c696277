// vorlund-process's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlund {

struct ProcessOptions {
  std::string input;
  std::string output;
  std::optional<std::string> paramsFile;
  std::optional<std::string> preset;
  std::optional<std::string> presetsDir;
  std::vector<std::string> settings;  // "name=value", applied in order
  std::optional<std::string> library;
  std::optional<std::string> format;  // an output format name, see formatNames()
  std::optional<std::string> metersFile;
  std::optional<std::string> reportFile;        // an HTML page of the run
  std::optional<std::string> spectrogramsFile;  // the spectrograms as a PNG
  double blockMs = 10.0;
  double metersIntervalMs = 100.0;
  bool align = false;
  bool quiet = false;  // no progress bar and no summary
  bool help = false;
  bool version = false;
};

// Throws ProcessError(usage) with the reason.
ProcessOptions parseProcessOptions(const std::vector<std::string>& arguments);

std::string processUsage();

}  // namespace vorlund
