// vorlund-ctl: the companion control application of the Vorlund microphone effect. Reads and
// writes parameter records, relearn requests and meters through shared.bin and params.bin in
// the effect's data folder. 'vorlund-ctl --help' tells the rest.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "ctl_error.h"
#include "ctl_options.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  using namespace vorlund;
  try {
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    return static_cast<int>(runCommand(parseCommandLine(arguments)));
  } catch (const CtlError& error) {
    std::cout.flush();
    std::cerr << "vorlund-ctl: error: " << error.what() << "\n";
    return static_cast<int>(error.code());
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "vorlund-ctl: error: " << error.what() << "\n";
    return static_cast<int>(ExitCode::ioFailure);
  }
}
