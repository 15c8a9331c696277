#include "process_options.h"

#include <cmath>
#include <cstdlib>

#include "process_error.h"
#include "sound_file.h"

namespace vorlund {
namespace {

constexpr double kMinBlockMs = 1.0;
constexpr double kMaxBlockMs = 100.0;
constexpr double kMinMetersIntervalMs = 1.0;
constexpr double kMaxMetersIntervalMs = 60000.0;

[[noreturn]] void usageError(const std::string& message) {
  throw ProcessError(ProcessExit::usage, message + "\n(try 'vorlund-process --help')");
}

double positiveNumber(const std::string& option, const std::string& text, double low, double high) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < low ||
      value > high)
    usageError(option + ": '" + text + "' is not a number from " + std::to_string(int(low)) +
               " to " + std::to_string(int(high)));
  return value;
}

// `text` broken at spaces into lines of at most `width` characters, each indented.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width) {
  std::string result, line(indent, ' ');
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (line.size() > indent && line.size() + 1 + word.size() > width) {
      result += line + "\n";
      line.assign(indent, ' ');
    }
    line += (line.size() > indent ? " " : "") + word;
    start = end + 1;
  }
  return result + line;
}

}  // namespace

ProcessOptions parseProcessOptions(const std::vector<std::string>& arguments) {
  ProcessOptions options;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) usageError(argument + " needs a value");
      return arguments[++i];
    };
    if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--params") {
      options.paramsFile = value();
    } else if (argument == "--preset") {
      options.preset = value();
    } else if (argument == "--presets-dir") {
      options.presetsDir = value();
    } else if (argument == "--set") {
      options.settings.push_back(value());
    } else if (argument == "--library") {
      options.library = value();
    } else if (argument == "--format") {
      options.format = value();
    } else if (argument == "--meters") {
      options.metersFile = value();
    } else if (argument == "--report") {
      options.reportFile = value();
    } else if (argument == "--spectrograms") {
      options.spectrogramsFile = value();
    } else if (argument == "--block-ms") {
      options.blockMs = positiveNumber(argument, value(), kMinBlockMs, kMaxBlockMs);
    } else if (argument == "--meters-interval") {
      options.metersIntervalMs =
          positiveNumber(argument, value(), kMinMetersIntervalMs, kMaxMetersIntervalMs);
    } else if (argument == "--align") {
      options.align = true;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      usageError("unknown option " + argument);
    } else {
      files.push_back(argument);
    }
  }
  if (options.help || options.version) return options;
  if (files.size() != 2) usageError("give exactly one input and one output file");
  options.input = files[0];
  options.output = files[1];
  return options;
}

std::string processUsage() {
  return std::string() +
         "usage: vorlund-process [options] IN OUT\n\n"
         "Runs a recording through the Vorlund microphone effect as the audio engine would:\n"
         "the library is loaded through its exports, the record handed over in a private data\n"
         "folder, and the file fed block by block. Reads what libsndfile reads (WAV, FLAC,\n"
         "Ogg, ...); writes OUT in the container its extension names (out.flac: FLAC), with\n"
         "IN's sample format where the container holds it, unless --format says otherwise.\n"
         "The effect is mono: a file of several channels is processed as their mean, and the\n"
         "result written to every channel. OUT is written under a temporary name beside it and\n"
         "renamed only when complete: a failure or Ctrl-C leaves an existing OUT as it was.\n"
         "OUT may not be IN itself.\n\n"
         "options:\n"
         "  --params FILE        a record file (text form, or a 524-byte params.bin)\n"
         "  --preset NAME        a shipped or saved preset (see 'vorlund-ctl presets')\n"
         "  --presets-dir DIR    take the shipped presets from DIR instead of those built in\n"
         "  --set NAME=VALUE     one field on top of the above; repeatable\n"
         "  --library FILE       the effect library (default: beside this program, then the\n"
         "                       build tree)\n"
         "  --format NAME        output format, whatever OUT's name: " +
         SoundFile::formatNames() +
         "\n"
         "  --block-ms MS        block length, 1 to 100 (default 10)\n"
         "  --align              remove the effect's latency so output lines up with input\n"
         "  --meters FILE.csv    write the published meters once per interval\n"
         "  --report FILE.html   a page of the run: spectrograms of input and output, the\n"
         "                       meters over time as plots, and the summary\n"
         "  --spectrograms FILE.png  the report's spectrograms as a picture of their own\n"
         "  --meters-interval MS the meters' interval, 1 to 60000 (default 100)\n"
         "  --quiet              no progress bar and no summary\n"
         "  --version            this program's version and the vector path it runs (SSE2, or\n"
         "                       AVX2 where the processor has it; VORLUND_SIMD=sse2 forces "
         "SSE2)\n\n"
         "formats (--format, or OUT's extension):\n" +
         wrapped(SoundFile::formatNames(), 2, 78) +
         "\n\n"
         "exit codes:\n"
         "  0  done\n"
         "  1  bad command line (OUT the same file as IN, too)\n"
         "  2  input unreadable or unsupported, or output not writable\n"
         "  3  bad record (--params, --preset, --set)\n"
         "  4  effect library missing or incomplete\n"
         "  5  the effect refuses the file's rate or channel count\n"
         "  6  the effect failed\n";
}

}  // namespace vorlund
