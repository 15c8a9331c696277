// vorlund-ctl: the companion control application of the Vorlund microphone effect. Reads and
// writes parameter records, relearn requests and meters through shared.bin and params.bin in
// the effect's data folder. 'vorlund-ctl --help' tells the rest.
#include "commands.h"
#include "common/ctl_error.h"
#include "common/tool_main.h"
#include "ctl_options.h"

int main(int argc, char** argv) {
  using namespace vorlund;
  return runTool("vorlund-ctl", static_cast<int>(ExitCode::ioFailure), argc, argv,
                 [](const std::vector<std::string>& arguments) {
                   return static_cast<int>(runCommand(parseCommandLine(arguments)));
                 });
}
