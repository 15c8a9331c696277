// Layer: platform
#include "platform/console.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace vorlund {

Utf8Console::Utf8Console() noexcept = default;

Utf8Console::~Utf8Console() = default;

void writeOutputForPrograms(std::string_view utf8) {
  std::cout << utf8 << std::flush;
}

bool standardOutputIsTerminal() noexcept {
  return isatty(STDOUT_FILENO) == 1;
}

bool enableTerminalEscapes() noexcept {
  const char* term = getenv("TERM");
  return standardOutputIsTerminal() && term != nullptr && std::strcmp(term, "dumb") != 0;
}

}  // namespace vorlund
