#include "common/tool_main.h"

#include <iostream>

#include "platform/console.h"
#include "platform/process.h"
#include "vorlund_version.h"

namespace vorlund {
namespace {

std::string_view programName = "vorlund";

void say(std::string_view kind, std::string_view message) {
  std::cout.flush();
  std::cerr << programName << ": " << kind << ": " << message << "\n";
}

}  // namespace

int runTool(std::string_view name, int unexpectedExitCode, int argc, char** argv,
            const ToolBody& body) {
  programName = name;
  const Utf8Console console;
  try {
    return body(commandLineArguments(argc, argv));
  } catch (const ToolError& error) {
    say("error", error.what());
    return error.exitCode();
  } catch (const std::exception& error) {
    say("error", error.what());
    return unexpectedExitCode;
  }
}

void warn(std::string_view message) {
  say("warning", message);
}

void reportError(std::string_view message) {
  say("error", message);
}

std::string versionLine() {
  return std::string(programName) + " " + VORLUND_VERSION_TEXT;
}

}  // namespace vorlund
