#include "process_options.h"

#include <cmath>
#include <cstdlib>

#include "process_error.h"

namespace vorlund {
namespace {

constexpr double kMinBlockMs = 1.0;
constexpr double kMaxBlockMs = 100.0;

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
    } else if (argument == "--block-ms") {
      options.blockMs = positiveNumber(argument, value(), kMinBlockMs, kMaxBlockMs);
    } else if (argument == "--meters-interval") {
      options.metersIntervalMs = positiveNumber(argument, value(), 1.0, 60000.0);
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
  if (options.help) return options;
  if (files.size() != 2) usageError("give exactly one input and one output file");
  options.input = files[0];
  options.output = files[1];
  return options;
}

std::string processUsage() {
  return "usage: vorlund-process [options] IN OUT\n\n"
         "Runs a recording through the Vorlund microphone effect as the audio engine would:\n"
         "the library is loaded through its exports, the record handed over in a private data\n"
         "folder, and the file fed block by block. Reads what libsndfile reads (WAV, FLAC,\n"
         "Ogg, ...); writes OUT in IN's format unless --format says otherwise. OUT is\n"
         "written under a temporary name beside it and renamed only when complete: a failure\n"
         "or Ctrl-C leaves an existing OUT as it was. OUT may not be IN itself.\n\n"
         "options:\n"
         "  --params FILE        a record file (text form, or a 524-byte params.bin)\n"
         "  --preset NAME        a shipped preset (see 'vorlund-ctl presets')\n"
         "  --presets-dir DIR    where the presets are (default: beside this program)\n"
         "  --set NAME=VALUE     one field on top of the above; repeatable\n"
         "  --library FILE       the effect library (default: beside this program, then the\n"
         "                       build tree)\n"
         "  --format NAME        output format: wav16, wav24, wav32, wavf, flac16, flac24, ogg\n"
         "  --block-ms MS        block length (default 10)\n"
         "  --align              remove the effect's latency so output lines up with input\n"
         "  --meters FILE.csv    write the published meters once per interval\n"
         "  --meters-interval MS the meters' interval (default 100)\n"
         "  --quiet              no progress bar and no summary\n\n"
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
