// Layer: platform
#include "platform/console.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>

namespace vorlund {

bool standardOutputIsTerminal() noexcept {
  return isatty(STDOUT_FILENO) == 1;
}

bool enableTerminalEscapes() noexcept {
  const char* term = getenv("TERM");
  return standardOutputIsTerminal() && term != nullptr && std::strcmp(term, "dumb") != 0;
}

}  // namespace vorlund
