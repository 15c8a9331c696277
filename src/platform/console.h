// Layer: platform
// The terminal a tool writes to: whether there is one, and switching on what a live view
// needs (ANSI cursor control, and UTF-8 output on a Windows console).
#pragma once

namespace vorlund {

// True when standard output is a terminal (a console), not a file or a pipe.
bool standardOutputIsTerminal() noexcept;

// Prepares a terminal standard output for ANSI escape sequences; false when it cannot take
// them (no terminal, TERM=dumb, or a console without virtual-terminal processing).
bool enableTerminalEscapes() noexcept;

}  // namespace vorlund
