// vorlund-mic: the "Vorlund microphone" on Linux. Runs in the foreground until SIGINT or
// SIGTERM; the systemd user unit vorlund-mic.service starts it with the session.
#include <cstdio>
#include <string>
#include <vector>

#include "common/tool_main.h"
#include "pipewire_microphone.h"

namespace vorlund {
namespace {

constexpr const char* kHelp =
    "usage: vorlund-mic [--help] [--version]\n"
    "\n"
    "Offers the \"Vorlund microphone\" to every PipeWire, PulseAudio and JACK application: the\n"
    "default input, all its channels folded to their mean, through Vorlund's voice chain. It\n"
    "follows Vorlund's data folder, so vorlund-ctl and its panel drive it live, and reports\n"
    "the chain's latency to PipeWire. Runs until interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "exit codes: 0 ended by a signal, 1 PipeWire unreachable, 2 bad arguments\n";

int runMicrophone(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (argument == "--version") {
      std::puts(versionLine().c_str());
      return 0;
    }
    throw ToolError(ExitCode::usage, "unknown argument '" + argument + "' (see --help)");
  }
  std::string note;
  PipeWireMicrophone microphone(note);
  if (!note.empty()) warn(note);
  std::string error;
  if (!microphone.run(error)) throw ToolError(1, error);
  return 0;
}

}  // namespace
}  // namespace vorlund

int main(int argc, char** argv) {
  return vorlund::runTool("vorlund-mic", 1, argc, argv, vorlund::runMicrophone);
}
