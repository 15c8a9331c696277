// The command line of the Vorlund tools, one style for all: options declared with CLI11, help
// generated from the declarations (usage, commands, options, then the tool's own footer and
// its rows of the exit-code table), and a usage error that ends with exit code 2, a message
// and a hint, the nearest known name for a misspelt option.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace vorlund {

// Help generated from an app's declarations: its description, "usage: " and the line `usage`
// gives, its commands, the options (declared on the tool's app; `shows` picks those that
// belong in the help of the app or of one of its commands), and its footer.
class ToolHelpFormatter : public CLI::Formatter {
 public:
  using Usage = std::function<std::string(const CLI::App&)>;
  using Shows = std::function<bool(const CLI::App&, const CLI::Option&)>;
  ToolHelpFormatter(Usage usage, Shows shows)
      : usage_(std::move(usage)), shows_(std::move(shows)) {}
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;

 private:
  Usage usage_;
  Shows shows_;
};

// Sets up `app` as a tool's: the help formatter, -h/--help and --version as plain flags (so
// that they may stand anywhere; the tool acts on them after parsing), and unknown arguments
// kept for parseArguments to name. Subcommands added afterwards take the same formatter.
void setUpToolApp(CLI::App& app, ToolHelpFormatter::Usage usage,
                  ToolHelpFormatter::Shows shows = {});

// Whether -h/--help or --version was given.
bool helpWanted(const CLI::App& app);
bool versionWanted(const CLI::App& app);

// `text` broken at spaces into lines of at most `width` characters, each indented by `indent`.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width);

// Parses `arguments` (after the program name) into `app`. Throws ToolError(usage) with CLI11's
// message or, for an unknown option, "unknown option '--x'; did you mean '--y'?", each with
// "(see 'NAME --help')". Returns what no declaration took (operands of an app that has none).
std::vector<std::string> parseArguments(CLI::App& app, std::span<const std::string> arguments);

// Throws ToolError(usage) with `message` and the hint of `app`.
[[noreturn]] void usageError(const CLI::App& app, const std::string& message);

// Every long option name of `app` and of its subcommands, for "did you mean".
std::vector<std::string> longOptionNames(const CLI::App& app);

}  // namespace vorlund
