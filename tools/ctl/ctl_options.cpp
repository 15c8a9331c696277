#include "ctl_options.h"

#include <algorithm>
#include <charconv>

#include "channel/diagnostic_log.h"
#include "common/command_line.h"
#include "common/ctl_error.h"
#include "common/exit_codes.h"
#include "common/nearest_name.h"

namespace vorlund {
namespace {

constexpr std::uint32_t kMinIntervalMs = 10;
constexpr std::uint32_t kMaxIntervalMs = 60000;

constexpr std::string_view kOverview =
    "vorlund-ctl: settings, presets, noise relearning and live meters for the Vorlund\n"
    "microphone effect, through shared.bin and params.bin in its data folder; on Windows\n"
    "also putting it on microphones and taking it off again.";

constexpr CommandInfo kCommands[] = {
    {"status", "status [--json]",
     "whether a stream is running, its format and latency, the block's header",
     "Watches shared.bin for up to half a second. A stream is live while its block count\n"
     "moves, stale while streams are counted as active but no block comes (an audio engine\n"
     "that stopped without unlocking), and stopped otherwise. Shows the active streams, the\n"
     "blocks processed and the age of the last one, the rate, channels and latency of the\n"
     "last stream, whether streams use shared.bin or params.bin, and the block's header check.\n"
     "Exit code 0 when a stream is live and 1 when not; 4 when there is no shared.bin (a\n"
     "stream in parameter-file mode cannot be seen from here); 3, 5 or 6 as for every command.",
     "vorlund-ctl status && echo \"the microphone is being processed\"", kOptionJson, 0, 0},
    {"show", "show [--json]", "the record in force, as text (loadable with 'load') or JSON",
     "Prints the parameter record that streams apply now: the one in shared.bin, else (in\n"
     "parameter-file mode) params.bin, else the factory defaults. The text form lists every\n"
     "field as 'name = value', to be edited and loaded back; --json prints the same fields\n"
     "as one JSON object, the equaliser bands as an array.",
     "vorlund-ctl show > mine.vrl", kOptionJson, 0, 0},
    {"set", "set NAME=VALUE... [--dry-run]", "change fields of the record in force",
     "Builds a new record from the one in force with the given fields changed, saves it as\n"
     "params.bin and publishes it into shared.bin, where a running stream applies it at its\n"
     "next block (in parameter-file mode, within about a second). Names are those 'show'\n"
     "prints (eqBands[3].gainDb for a band); flags take 0, 1, on, off, true or false; a\n"
     "choice takes its label (eqBands[1].type=peaking, effectMode=echo) or its number\n"
     "('vorlund-ctl help fields' lists them all). A value outside its range is clamped, with\n"
     "a warning that shows what will apply. An unknown name or a malformed value changes\n"
     "nothing. --dry-run shows the changes, writes nothing.",
     "vorlund-ctl set inputGainDb=6 eqBands[1].type=peaking gateEnabled=on", kOptionDryRun, 1,
     SIZE_MAX},
    {"load", "load FILE [--dry-run]", "put a record file in force (text or binary)",
     "Reads a record file, in the text form ('show' prints it; presets are written in it)\n"
     "or the 524-byte binary form of params.bin, and puts it in force as 'set' does. Fields\n"
     "a text file does not name take their factory values.",
     "vorlund-ctl load mine.vrl", kOptionDryRun, 1, 1},
    {"preset", "preset NAME | save NAME | delete NAME [--dry-run]",
     "put a preset in force, or save or delete one of yours",
     "'preset NAME' puts preset NAME in force as 'load' does: its fields over the factory\n"
     "values. 'preset save NAME' saves the record in force as your preset NAME (replacing\n"
     "one of yours of that name); 'preset delete NAME' deletes one of yours. Shipped presets\n"
     "cannot be replaced or deleted. 'presets' lists them all; a misspelt name gets the\n"
     "nearest one suggested.",
     "vorlund-ctl preset save evening && vorlund-ctl preset podcast", kOptionDryRun, 1, 2},
    {"presets", "presets", "list the presets, marking the one in force",
     "Lists the presets with what each is for; '*' marks one equal to the record in force.\n"
     "The shipped presets are built into this program (--presets-dir DIR takes them from\n"
     "DIR's NAME.vrl files instead); yours, saved with 'preset save', are in your presets\n"
     "folder: %APPDATA%\\Vorlund\\presets on Windows, $XDG_CONFIG_HOME/vorlund/presets or\n"
     "~/.config/vorlund/presets elsewhere.",
     "vorlund-ctl presets", 0, 0, 0},
    {"mute", "mute on|off|toggle [--dry-run]", "silence the microphone, or let it speak again",
     "Sets the record's mute flag as 'set mute=...' does: 'on' silences the output, 'off'\n"
     "lets it through, 'toggle' turns it over from the record in force.",
     "vorlund-ctl mute toggle", kOptionDryRun, 1, 1},
    {"bypass", "bypass on|off|toggle [--dry-run]", "pass the microphone through unprocessed",
     "Sets the record's bypass flag as 'set bypass=...' does: 'on' passes the microphone\n"
     "through untouched, 'off' processes it again, 'toggle' turns it over from the record in\n"
     "force.",
     "vorlund-ctl bypass on", kOptionDryRun, 1, 1},
    {"reset-defaults", "reset-defaults [--dry-run]", "put the factory record in force",
     "Puts the factory settings in force as 'set' does, and shows what that changes.",
     "vorlund-ctl reset-defaults --dry-run", kOptionDryRun, 0, 0},
    {"relearn", "relearn", "make a running stream learn the background noise afresh",
     "Changes the relearn counter in shared.bin: a running stream restarts its noise\n"
     "suppressor's learning at its next block, once. Use it when the room got quieter or\n"
     "louder. Needs shared.bin: a stream in parameter-file mode cannot be asked (restarting\n"
     "it does the same).",
     "vorlund-ctl relearn", 0, 0, 0},
    {"meters", "meters [--interval MS] [--once] [--count N] [--json]",
     "live levels, gains, voice activity and processing load",
     "Shows every meter of the running stream, read every MS milliseconds (default 200):\n"
     "input and output peak and RMS, the background level, the gain each stage takes (noise\n"
     "suppression, gate, plosive, de-esser, AGC, compressor, limiter), voice activity, bypass\n"
     "and processing load, with bars, and a warning when blocks stop coming. On a terminal\n"
     "the view redraws in place; otherwise each reading is one line. --once prints one\n"
     "reading (watching up to half a second to tell a live stream), --count N stops after N,\n"
     "--json prints JSON (one object per line when repeating). Ctrl+C ends the live view.",
     "vorlund-ctl meters --once --json", kOptionInterval | kOptionOnce | kOptionCount | kOptionJson,
     0, 0},
    {"panel", "panel [--port N] [--no-browser]",
     "the control panel in the browser: meters, every setting, the equaliser curve",
     "Serves the control panel on this computer only (127.0.0.1) and opens it in the default\n"
     "browser: the stream's state and live meters, every field of the record by stage with\n"
     "its meaning, the equaliser and tone curve, presets (preview, apply, save your own,\n"
     "delete them) and mute, bypass and relearn. Changes go the way 'set' puts them in\n"
     "force. The printed address holds the panel's key; other pages and programs cannot\n"
     "use the panel without it. Port and key are kept for the data folder, so a reopened\n"
     "panel serves a page still open. --port N listens on port N (default: the last one,\n"
     "else a free one), --no-browser only prints the address. Runs until Ctrl+C.",
     "vorlund-ctl panel --port 8765 --no-browser", kOptionPort | kOptionNoBrowser, 0, 0},
    {"devices", "devices [--json | --lines]",
     "the microphones (capture endpoints) and where Vorlund is on",
     "Lists the capture endpoints Windows knows, each with a number, its name, its endpoint\n"
     "id, its state (active, disabled, not present, unplugged) and whether Vorlund is\n"
     "attached to it. The number or the id names the endpoint for 'attach' and 'detach'.\n"
     "Endpoints that have a key in the registry but that Windows does not report are listed\n"
     "too. --lines prints one endpoint a line for programs (the installer): attached (1 or 0),\n"
     "default (1 or 0), endpoint id and name, separated by tabs, in UTF-16 after a byte-order\n"
     "mark. Windows only.",
     "vorlund-ctl devices", kOptionJson | kOptionLines, 0, 0},
    {"attach", "attach DEVICE[,DEVICE...] | all [--slot sfx|lfx] [--restart-audio]",
     "put Vorlund on a microphone (administrator)",
     "Adds Vorlund to the stream effects of the capture endpoint DEVICE: its number from\n"
     "'devices', its endpoint id, or 'default' for the default microphone; several separated\n"
     "by commas, or 'all' for every one. Vorlund's class id\n"
     "is appended to the endpoint's composite stream-effect list, keeping every other\n"
     "effect, and set as its single stream effect only where it has none, with the modes it\n"
     "runs in (default, communications). --slot lfx puts it in the local-effect slot (LFX)\n"
     "instead, for microphones whose driver brings no effects. The values found\n"
     "before are backed up once under HKLM\\SOFTWARE\\Vorlund, for 'detach'. Attaching twice\n"
     "changes nothing. The change applies when the microphone's streams restart;\n"
     "--restart-audio restarts the Windows Audio service to apply it now (every sound stops\n"
     "for a moment). Needs administrator rights. Windows only.",
     "vorlund-ctl attach default --restart-audio", kOptionRestartAudio | kOptionSlot, 1, 8},
    {"detach", "detach DEVICE[,DEVICE...] | --all [--restart-audio]",
     "take Vorlund off a microphone, or off every one (administrator)",
     "Restores the stream-effect values of the capture endpoint DEVICE (as for 'attach') as\n"
     "they were before Vorlund was attached, byte for byte, and removes the backup. Where the\n"
     "values changed since (a driver update), only Vorlund's entry is taken out. --all does\n"
     "this for every endpoint with a backup. Needs administrator rights. Windows only.",
     "vorlund-ctl detach --all", kOptionAll | kOptionRestartAudio, 0, 1},
    {"setup", "setup", "create the data folder with its access rules and files (administrator)",
     "Creates the data folder (or, where it exists, resets its owner and access rules):\n"
     "owned by Administrators; SYSTEM and Administrators have full control, the audio\n"
     "engine's account (LOCAL SERVICE) may create, change and rotate its files but not add\n"
     "folders, and signed-in users may read everything and write into the existing files,\n"
     "but not add, replace, delete or link files or folders. Then creates shared.bin (65,536\n"
     "bytes, holding the factory record), params.bin (the factory record) and apo.log where\n"
     "they are missing. A folder that is a link (junction or symbolic link), or that holds\n"
     "a link or a file with a second name, is refused: the effect would write through it.\n"
     "The installer runs it. Needs administrator rights. Windows only.",
     "vorlund-ctl setup", 0, 0, 0},
    {"doctor", "doctor [DEVICE]", "check why the effect may not work, with what to do",
     "Checks, each with a verdict and what to do: the DLL's registration in the 64-bit\n"
     "view, the data folder and its access rules, the last stream the audio engine ran\n"
     "through Vorlund (the last LockForProcess line of apo.log), and for DEVICE, or else\n"
     "every microphone Vorlund was attached to, its effect values (stream effect, composite\n"
     "list, mode list, local effect), whether Windows took Vorlund off, and whether audio\n"
     "enhancements are off. Windows only.",
     "vorlund-ctl doctor", 0, 0, 1},
    {"path", "path add | remove", "put this program's folder on the system PATH, or take it off",
     "'add' appends the folder that holds vorlund-ctl to the system PATH, unless an entry\n"
     "names it already; 'remove' takes that entry out again, so that PATH is as it was\n"
     "before, byte for byte. Programs started afterwards see the change. The installer and\n"
     "the uninstaller run it. Needs administrator rights. Windows only.",
     "vorlund-ctl path add", 0, 1, 1},
    {"help", "help [COMMAND | fields]", "this overview, a command's help, or every field",
     "Shows the overview, or the help of COMMAND ('vorlund-ctl COMMAND --help' does too).\n"
     "'vorlund-ctl help fields' lists every field of the record by stage: what it does,\n"
     "the values it takes (a choice's labels) and its factory value.",
     "vorlund-ctl help fields", 0, 0, 1},
};

struct OptionInfo {
  std::string_view name;
  unsigned bit;            // 0: any command takes it
  std::string_view value;  // the value's name in the help; empty for a flag
  std::string_view help;
};

// -h/--help and --version come with every tool's command line.
constexpr OptionInfo kOptions[] = {
    {"--data-dir", 0, "DIR",
     "the data folder; by default the one the effect finds: %ProgramData%\\Vorlund on "
     "Windows; on Linux $ProgramData/Vorlund when set, else /var/lib/Vorlund when it exists, "
     "else the per-user $XDG_STATE_HOME/vorlund (~/.local/state/vorlund)"},
    {"--presets-dir", 0, "DIR", "take the shipped presets from DIR instead of those built in"},
    {"--json", kOptionJson, "", "print JSON instead of text"},
    {"--lines", kOptionLines, "", "one endpoint a line, fields separated by tabs"},
    {"--dry-run", kOptionDryRun, "", "show the changes, write nothing"},
    {"--interval", kOptionInterval, "MS", "read the meters every MS milliseconds (default 200)"},
    {"--once", kOptionOnce, "", "one reading, then stop"},
    {"--count", kOptionCount, "N", "stop after N readings"},
    {"--port", kOptionPort, "N", "listen on port N (default: a free one)"},
    {"--no-browser", kOptionNoBrowser, "", "only print the address"},
    {"--all", kOptionAll, "", "every endpoint with a backup"},
    {"--restart-audio", kOptionRestartAudio, "",
     "restart the Windows Audio service to apply the change now"},
    {"--slot", kOptionSlot, "sfx|lfx",
     "the effect slot: the stream effect (default) or the local effect (LFX)"},
};

const OptionInfo* findOption(std::string_view name) {
  for (const OptionInfo& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

[[noreturn]] void usageError(const std::string& message) {
  throw CtlError(ExitCode::usage, message + " (see 'vorlund-ctl --help')");
}

std::vector<std::string> namesOf(auto&& table) {
  std::vector<std::string> names;
  for (const auto& entry : table) names.emplace_back(entry.name);
  return names;
}

std::uint32_t parseCount(std::string_view option, std::string_view text, std::uint32_t lowest,
                         std::uint32_t highest) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
    usageError(std::string(option) + " takes a whole number from " + std::to_string(lowest) +
               " to " + std::to_string(highest) + ", not '" + std::string(text) + "'");
  return value;
}

void takeOption(const OptionInfo& option, std::string_view value, CtlOptions& options) {
  const std::string_view name = option.name;
  if (name == "--data-dir") {
    options.dataDir = std::string(value);
  } else if (name == "--presets-dir") {
    options.presetsDir = std::string(value);
  } else if (name == "--json") {
    options.json = true;
  } else if (name == "--lines") {
    options.lines = true;
  } else if (name == "--dry-run") {
    options.dryRun = true;
  } else if (name == "--interval") {
    options.intervalMs = parseCount(name, value, kMinIntervalMs, kMaxIntervalMs);
  } else if (name == "--once") {
    options.once = true;
  } else if (name == "--count") {
    options.count = parseCount(name, value, 1, UINT32_MAX);
  } else if (name == "--port") {
    options.port = static_cast<std::uint16_t>(parseCount(name, value, 1, UINT16_MAX));
  } else if (name == "--no-browser") {
    options.noBrowser = true;
  } else if (name == "--all") {
    options.all = true;
  } else if (name == "--restart-audio") {
    options.restartAudio = true;
  } else if (name == "--slot") {
    if (value != "sfx" && value != "lfx")
      usageError("--slot takes sfx or lfx, not '" + std::string(value) + "'");
    options.localSlot = value == "lfx";
  }
}

const OptionInfo* infoOf(const CLI::Option& option) {
  return option.get_lnames().empty() ? nullptr : findOption("--" + option.get_lnames()[0]);
}

// The command line as CLI11 declarations from the tables above. Every option is declared on
// the app, so that it may stand before the command or after it; a command's help lists those
// it takes, the overview those every command takes.
void declareCommandLine(CLI::App& app, std::vector<std::string>& operands) {
  setUpToolApp(
      app,
      [](const CLI::App& a) {
        const CommandInfo* command = findCommand(a.get_name());
        return a.get_parent() == nullptr || command == nullptr
                   ? std::string("vorlund-ctl [--data-dir DIR] COMMAND [OPTIONS] [ARGUMENTS]")
                   : "vorlund-ctl " + std::string(command->synopsis);
      },
      [](const CLI::App& a, const CLI::Option& o) {
        const OptionInfo* option = infoOf(o);
        const CommandInfo* command = a.get_parent() ? findCommand(a.get_name()) : nullptr;
        const unsigned bit = option ? option->bit : 0;
        return command ? (bit & command->options) != 0 : bit == 0;
      });
  // One command at most: a command's name after it is an operand ('help set').
  app.require_subcommand(0, 1);
  app.footer(exitCodeHelp(kCtlTool) +
             "\nexamples:\n"
             "  vorlund-ctl status\n"
             "  vorlund-ctl set inputGainDb=6 compRatio=4\n"
             "  vorlund-ctl preset podcast --dry-run\n"
             "  vorlund-ctl meters\n"
             "  vorlund-ctl attach default\n");
  for (const OptionInfo& option : kOptions) {
    std::string help(option.help);
    // The folder itself, as this user on this machine would get it.
    if (option.name == "--data-dir") help += "; here " + dataFolder().toUtf8();
    if (option.value.empty()) {
      app.add_flag(std::string(option.name))->description(help)->disable_flag_override();
    } else {
      app.add_option(std::string(option.name))
          ->description(help)
          ->type_name(std::string(option.value))
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
  }
  for (const CommandInfo& c : kCommands) {
    CLI::App* command = app.add_subcommand(std::string(c.name), std::string(c.summary));
    command->fallthrough();
    command->allow_extras();
    command->add_option("operands", operands);
    command->footer(std::string(c.details) + "\n\nexample:\n  " + std::string(c.example) +
                    "\n\n--data-dir DIR works on another data folder; 'vorlund-ctl --help' "
                    "lists exit codes.\n");
  }
}

}  // namespace

std::span<const CommandInfo> ctlCommands() {
  return kCommands;
}

const CommandInfo* findCommand(std::string_view name) {
  for (const CommandInfo& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

CtlOptions parseCommandLine(std::span<const std::string> arguments) {
  CtlOptions options;
  CLI::App app(std::string(kOverview), "vorlund-ctl");
  declareCommandLine(app, options.operands);
  const std::vector<std::string> rest = parseArguments(app, arguments);
  options.help = helpWanted(app);
  options.version = versionWanted(app);
  if (const auto chosen = app.get_subcommands(); !chosen.empty())
    options.command = findCommand(chosen.front()->get_name());
  unsigned given = 0;
  for (const CLI::Option* option : app.get_options()) {
    const OptionInfo* info = infoOf(*option);
    if (info == nullptr || option->count() == 0) continue;
    given |= info->bit;
    takeOption(*info, info->value.empty() ? "" : option->as<std::string>(), options);
  }
  // Every option is declared, so what is left is a word where a command should be.
  if (!rest.empty())
    usageError("unknown command '" + rest.front() + "'; did you mean '" +
               nearestName(rest.front(), namesOf(kCommands)) + "'?");
  if (options.help || options.version) return options;
  const CommandInfo* command = options.command;
  if (command == nullptr) return options;
  for (const OptionInfo& option : kOptions) {
    if ((given & option.bit & ~command->options) != 0)
      usageError(std::string(option.name) + " does not apply to '" + std::string(command->name) +
                 "'");
  }
  const std::size_t n = options.operands.size();
  if (n < command->minOperands || n > command->maxOperands)
    usageError("usage: vorlund-ctl " + std::string(command->synopsis));
  if (command->name == "detach" && (n == 1) == options.all)
    usageError("usage: vorlund-ctl " + std::string(command->synopsis));
  if (command->name == "preset" && n == 2 && options.operands[0] != "save" &&
      options.operands[0] != "delete")
    usageError("usage: vorlund-ctl " + std::string(command->synopsis));
  if ((command->name == "mute" || command->name == "bypass") && options.operands[0] != "on" &&
      options.operands[0] != "off" && options.operands[0] != "toggle")
    usageError(std::string(command->name) + " takes on, off or toggle, not '" +
               options.operands[0] + "'");
  if (command->name == "help" && n == 1 && options.operands[0] != kFieldsTopic &&
      findCommand(options.operands[0]) == nullptr)
    usageError("no command '" + options.operands[0] + "'; did you mean '" +
               nearestName(options.operands[0], namesOf(kCommands)) + "'?");
  return options;
}

std::string helpText(const CommandInfo* command) {
  std::vector<std::string> operands;
  CLI::App app(std::string(kOverview), "vorlund-ctl");
  declareCommandLine(app, operands);
  return command ? app.get_subcommand(std::string(command->name))->help() : app.help();
}

}  // namespace vorlund
