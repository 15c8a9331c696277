#include "process_options.h"

#include <cmath>

#include "common/command_line.h"
#include "process_error.h"
#include "sound_file.h"

namespace vorlund {
namespace {

constexpr double kMinBlockMs = 1.0;
constexpr double kMaxBlockMs = 100.0;
constexpr double kMinMetersIntervalMs = 1.0;
constexpr double kMaxMetersIntervalMs = 60000.0;

constexpr const char* kDescription =
    "Runs a recording through the Vorlund microphone effect as the audio engine would:\n"
    "the library is loaded through its exports, the record handed over in a private data\n"
    "folder, and the file fed block by block. Reads what libsndfile reads (WAV, FLAC,\n"
    "Ogg, ...); writes OUT in the container its extension names (out.flac: FLAC), with\n"
    "IN's sample format where the container holds it, unless --format says otherwise.\n"
    "The effect is mono: a file of several channels is processed as their mean, and the\n"
    "result written to every channel. Each file it writes goes to a new file beside it and\n"
    "takes its name only when complete and on disk: a failure or Ctrl-C leaves an existing\n"
    "one as it was. No file it writes (OUT, --meters, --report, --spectrograms) may be IN\n"
    "or another of them, under any name.";

// A number option's value, checked against its range after parsing.
struct NumberOption {
  CLI::Option* option;
  double* value;
  double low;
  double high;
};

void declareCommandLine(CLI::App& app, ProcessOptions& o, std::vector<NumberOption>& numbers) {
  setUpToolApp(app,
               [](const CLI::App&) { return std::string("vorlund-process [options] IN OUT"); });
  app.footer("formats (--format, or OUT's extension):\n" +
             wrapped(SoundFile::formatNames(), 2, 78) + "\n\n" + exitCodeHelp(kProcessTool));
  const auto text = [&](const char* name, std::optional<std::string>& value, const char* type,
                        const std::string& help) {
    app.add_option(name, value, help)->type_name(type);
  };
  text("--params", o.paramsFile, "FILE", "a record file (text form, or a 524-byte params.bin)");
  text("--preset", o.preset, "NAME", "a shipped or saved preset (see 'vorlund-ctl presets')");
  text("--presets-dir", o.presetsDir, "DIR",
       "take the shipped presets from DIR instead of those built in");
  app.add_option("--set", o.settings, "one field on top of the above; repeatable")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  text("--library", o.library, "FILE",
       "the effect library (default: beside this program, then the build tree)");
  text("--format", o.format, "NAME", "output format, whatever OUT's name (see the formats below)");
  const auto number = [&](const char* name, double& value, double low, double high,
                          const std::string& help) {
    numbers.push_back({app.add_option(name, value, help)->type_name("MS"), &value, low, high});
  };
  number("--block-ms", o.blockMs, kMinBlockMs, kMaxBlockMs, "block length, 1 to 100 (default 10)");
  app.add_flag("--align", o.align, "remove the effect's latency so output lines up with input");
  text("--meters", o.metersFile, "FILE.csv", "write the published meters once per interval");
  text("--report", o.reportFile, "FILE.html",
       "a page of the run: spectrograms of input and output, the meters over time as plots, "
       "and the summary");
  text("--spectrograms", o.spectrogramsFile, "FILE.png",
       "the report's spectrograms as a picture of their own");
  number("--meters-interval", o.metersIntervalMs, kMinMetersIntervalMs, kMaxMetersIntervalMs,
         "the meters' interval, 1 to 60000 (default 100)");
  app.add_flag("--quiet", o.quiet, "no progress bar and no summary");
  app.get_option("--version")
      ->description(
          "this program's version and the vector path it runs (SSE2, or AVX2 where "
          "the processor has it; VORLUND_SIMD=sse2 forces SSE2)");
}

}  // namespace

ProcessOptions parseProcessOptions(const std::vector<std::string>& arguments) {
  ProcessOptions options;
  std::vector<NumberOption> numbers;
  CLI::App app(kDescription, "vorlund-process");
  declareCommandLine(app, options, numbers);
  const std::vector<std::string> files = parseArguments(app, arguments);
  options.help = helpWanted(app);
  options.version = versionWanted(app);
  if (options.help || options.version) return options;
  for (const NumberOption& n : numbers) {
    if (!std::isfinite(*n.value) || *n.value < n.low || *n.value > n.high)
      usageError(app, n.option->get_name() + ": '" + n.option->as<std::string>() +
                          "' is not a number from " + std::to_string(int(n.low)) + " to " +
                          std::to_string(int(n.high)));
  }
  if (files.size() != 2) usageError(app, "give exactly one input and one output file");
  options.input = files[0];
  options.output = files[1];
  return options;
}

std::string processUsage() {
  ProcessOptions options;
  std::vector<NumberOption> numbers;
  CLI::App app(kDescription, "vorlund-process");
  declareCommandLine(app, options, numbers);
  return app.help();
}

}  // namespace vorlund
