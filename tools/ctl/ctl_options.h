// vorlund-ctl's command line: the commands with their help, and the parsing of options that
// may stand anywhere (--data-dir before the command or after it).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// Options a command may take, as bits.
enum CtlOption : unsigned {
  kOptionJson = 1u << 0,
  kOptionDryRun = 1u << 1,
  kOptionInterval = 1u << 2,
  kOptionOnce = 1u << 3,
  kOptionCount = 1u << 4,
  kOptionPort = 1u << 5,
  kOptionNoBrowser = 1u << 6,
  kOptionAll = 1u << 7,
  kOptionRestartAudio = 1u << 8,
  kOptionSlot = 1u << 9,
  kOptionLines = 1u << 10,
};

struct CommandInfo {
  std::string_view name;
  std::string_view synopsis;  // after "vorlund-ctl "
  std::string_view summary;   // one line for the overview
  std::string_view details;   // the command's own help
  std::string_view example;
  unsigned options;
  std::size_t minOperands;
  std::size_t maxOperands;
};

// 'vorlund-ctl help fields': the reference of the record's fields.
inline constexpr std::string_view kFieldsTopic = "fields";

std::span<const CommandInfo> ctlCommands();
const CommandInfo* findCommand(std::string_view name);

struct CtlOptions {
  const CommandInfo* command = nullptr;  // null: no command given
  bool help = false;
  bool version = false;
  std::optional<std::string> dataDir;
  std::optional<std::string> presetsDir;
  bool json = false;
  bool lines = false;  // one record a line, tab-separated, for the installer
  bool dryRun = false;
  bool once = false;
  std::uint32_t intervalMs = 200;
  std::optional<std::uint32_t> count;
  std::optional<std::uint16_t> port;  // panel: the port to listen on
  bool noBrowser = false;
  bool all = false;
  bool restartAudio = false;
  bool localSlot = false;  // attach --slot lfx
  std::vector<std::string> operands;
};

// Throws CtlError(usage) with the reason (and the nearest command for a misspelt one).
CtlOptions parseCommandLine(std::span<const std::string> arguments);

// The overview (no command) or one command's help, with its example.
std::string helpText(const CommandInfo* command);

}  // namespace vorlund
