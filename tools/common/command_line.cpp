#include "common/command_line.h"

#include "common/exit_codes.h"
#include "common/nearest_name.h"
#include "common/tool_main.h"

namespace vorlund {
namespace {

constexpr std::size_t kLabelWidth = 21;
constexpr std::size_t kTextWidth = 79;

const CLI::App& rootOf(const CLI::App& app) {
  const CLI::App* root = &app;
  while (root->get_parent() != nullptr) root = root->get_parent();
  return *root;
}

// "--data-dir DIR", "-h, --help".
std::string optionLabel(const CLI::Option& option) {
  std::string label;
  for (const std::string& name : option.get_snames()) label += "-" + name + ", ";
  for (const std::string& name : option.get_lnames()) label += "--" + name + ", ";
  label.resize(label.size() - 2);
  if (option.get_type_size() != 0) label += " " + option.get_type_name();
  return label;
}

// "  LABEL  text" with the text wrapped under itself; a label too long for the column puts the
// text on the next line.
std::string row(std::string label, std::string_view text) {
  std::string line = "  " + label;
  if (line.size() + 2 > kLabelWidth) {
    line += "\n";
    line.append(kLabelWidth, ' ');
  } else {
    line.resize(kLabelWidth, ' ');
  }
  return line + wrapped(text, kLabelWidth, kTextWidth).substr(kLabelWidth) + "\n";
}

}  // namespace

std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
  std::string result, line(indent, ' ');
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(start, end - start);
    if (line.size() > indent && line.size() + 1 + word.size() > width) {
      result += line + "\n";
      line.assign(indent, ' ');
    }
    if (line.size() > indent) line += ' ';
    line += word;
    start = end + 1;
  }
  return result + line;
}

std::string ToolHelpFormatter::make_help(const CLI::App* app, std::string,
                                         CLI::AppFormatMode) const {
  std::string text;
  if (!app->get_description().empty()) text += app->get_description() + "\n\n";
  text += "usage: " + usage_(*app) + "\n\n";
  const auto commands = app->get_subcommands([](const CLI::App*) { return true; });
  if (!commands.empty()) {
    text += "commands:\n";
    for (const CLI::App* command : commands) {
      std::string name = command->get_name();
      name.resize(16, ' ');
      text += "  " + name + command->get_description() + "\n";
    }
    text += "\n";
  }
  std::string options;
  for (const CLI::Option* option : rootOf(*app).get_options()) {
    if (option->get_lnames().empty() || (shows_ && !shows_(*app, *option))) continue;
    options += row(optionLabel(*option), option->get_description());
  }
  if (!options.empty())
    text += (commands.empty() ? "options:\n" : "options for every command:\n") + options + "\n";
  text += app->get_footer();
  return text;
}

void setUpToolApp(CLI::App& app, ToolHelpFormatter::Usage usage, ToolHelpFormatter::Shows shows) {
  app.formatter(std::make_shared<ToolHelpFormatter>(std::move(usage), std::move(shows)));
  app.set_help_flag();
  app.allow_extras();
  app.add_flag("-h,--help")->description("this help")->disable_flag_override();
  app.add_flag("--version")->description("this program's version")->disable_flag_override();
}

bool helpWanted(const CLI::App& app) {
  return rootOf(app).get_option("--help")->count() > 0;
}

bool versionWanted(const CLI::App& app) {
  return rootOf(app).get_option("--version")->count() > 0;
}

void usageError(const CLI::App& app, const std::string& message) {
  throw ToolError(ExitCode::usage, message + " (see '" + rootOf(app).get_name() + " --help')");
}

std::vector<std::string> longOptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options())
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    const std::vector<std::string> more = longOptionNames(*command);
    names.insert(names.end(), more.begin(), more.end());
  }
  return names;
}

std::vector<std::string> parseArguments(CLI::App& app, std::span<const std::string> arguments) {
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    usageError(app, error.what());
  }
  std::vector<std::string> rest;
  for (const std::string& argument : app.remaining()) {
    if (argument.size() > 1 && argument[0] == '-' && argument != "--") {
      const std::string name = argument.substr(0, argument.find('='));
      const std::vector<std::string> known = longOptionNames(app);
      if (std::find(known.begin(), known.end(), name) != known.end()) continue;
      // A suggestion only for a slip of a few letters, not for a different word.
      const std::string nearest = nearestName(name, known);
      if (editDistance(name, nearest) <= std::max<std::size_t>(2, name.size() / 3))
        usageError(app, "unknown option '" + name + "'; did you mean '" + nearest + "'?");
      usageError(app, "unknown option '" + name + "'");
    }
    rest.push_back(argument);
  }
  return rest;
}

}  // namespace vorlund
