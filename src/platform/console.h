// Layer: platform
// The terminal a tool writes to: whether there is one, and switching on what a live view
// needs (ANSI cursor control, and UTF-8 output on a Windows console).
#pragma once

#include <string_view>

namespace vorlund {

// While it lives, a Windows console shows the UTF-8 text a tool writes (microphone names,
// paths) as such, and it gets its own code page back afterwards; elsewhere it does nothing.
class Utf8Console {
 public:
  Utf8Console() noexcept;
  ~Utf8Console();
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  unsigned previous_ = 0;
};

// Writes `utf8` to standard output for another program to read. On Windows as UTF-16LE after
// a byte-order mark, with CR LF line breaks, which Windows programs reading a child's output
// (the installer) take as Unicode where they would read UTF-8 in the ANSI code page;
// unchanged elsewhere.
void writeOutputForPrograms(std::string_view utf8);

// True when standard output is a terminal (a console), not a file or a pipe.
bool standardOutputIsTerminal() noexcept;

// Prepares a terminal standard output for ANSI escape sequences; false when it cannot take
// them (no terminal, TERM=dumb, or a console without virtual-terminal processing).
bool enableTerminalEscapes() noexcept;

}  // namespace vorlund
