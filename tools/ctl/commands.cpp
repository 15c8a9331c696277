#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>

#include "channel/diagnostic_log.h"
#include "channel/parameter_channel.h"
#include "common/control_session.h"
#include "common/field_reference.h"
#include "common/json_writer.h"
#include "common/preset_library.h"
#include "common/record_change.h"
#include "common/record_fields.h"
#include "common/record_file.h"
#include "common/record_json.h"
#include "common/record_text.h"
#include "common/stream_state.h"
#include "common/tool_main.h"
#include "doctor.h"
#include "meter_view.h"
#include "panel/panel_command.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/system.h"
#include "windows_commands.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;

void warnIfInterrupted(const RecordInForce& inForce, const std::string& consequence) {
  if (!inForce.interruptedWriter) return;
  warn("shared.bin: a writer stopped half-way through a record (change counter " +
       std::to_string(inForce.changeCounter) + " left odd), so the record there may be torn; " +
       consequence);
}

Path resolveDataFolder(const CtlOptions& options) {
  if (!options.dataDir) return dataFolder();
  const Path folder = Path::fromUtf8(*options.dataDir);
  if (options.dataDir->empty() || !folder.valid())
    throw CtlError(ExitCode::usage, "--data-dir: '" + *options.dataDir + "' is not a usable path");
  return folder;
}

// Errors of a preset library call end the command.
void takePresetReport(const RecordReport& report, ExitCode code) {
  for (const std::string& warning : report.warnings) warn(warning);
  if (report.ok()) return;
  for (std::size_t i = 0; i + 1 < report.errors.size(); ++i) reportError(report.errors[i]);
  throw CtlError(code, report.errors.back());
}

// "yours: saved from the record in force on 2026-12-07".
std::string savedDescription() {
  const std::time_t now = std::time(nullptr);
  char date[16] = "";
  if (const std::tm* local = std::localtime(&now))
    std::strftime(date, sizeof date, "%Y-%m-%d", local);
  return std::string("yours: saved from the record in force on ") + date;
}

// Which data folder is in use: "system-wide", "per-user" (a Linux install without root) or
// "given by --data-dir".
std::string dataFolderScope(const CtlOptions& options) {
  if (options.dataDir) return "given by --data-dir";
  return chooseDataFolder().scope == DataFolderScope::perUser ? "per-user" : "system-wide";
}

// "valid", "missing" or "refused": params.bin as the effect judges it.
std::string parameterFileState(const ControlSession& session) {
  std::uint64_t size = 0;
  if (!queryFileSize(session.parametersPath(), size)) return "missing";
  ParameterBlock record;
  return readParameterFile(session.parametersPath(), record)
             ? "valid"
             : "refused (not a 524-byte record starting with \"VRLD\")";
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

void printChanges(const ParameterBlock& before, const ParameterBlock& after) {
  const std::vector<FieldChange> changes = recordChanges(before, after);
  std::size_t width = 0;
  for (const FieldChange& change : changes) width = std::max(width, change.field->name.size());
  for (const FieldChange& change : changes) {
    std::cout << "  " << padded(std::string(change.field->name), width) << "  "
              << formatFieldValue(change.before, *change.field) << " -> "
              << formatFieldValue(change.after, *change.field) << "\n";
  }
}

// set, load, preset and reset-defaults: the next record, shown, saved and published.
ExitCode putInForce(ControlSession& session, const CtlOptions& options,
                    const RecordBuilder& build) {
  const RecordChange change = putRecordInForce(session, build, {.dryRun = options.dryRun});
  warnIfInterrupted(change.before, "building on " + change.before.describe() +
                                       " instead; publishing recovers the counter");
  for (const std::string& warning : change.report.warnings) warn(warning);
  if (!change.report.ok()) {
    for (const std::string& error : change.report.errors) reportError(error);
    throw CtlError(ExitCode::usage, "nothing changed");
  }

  std::cout << "record in force: " << change.before.describe() << "\n";
  if (!change.changed) {
    std::cout << "no change: every field already has that value; nothing written\n";
    return ExitCode::ok;
  }
  printChanges(change.before.record, change.after);
  if (options.dryRun) {
    std::cout << "dry run: nothing written\n";
    return ExitCode::ok;
  }

  const Publication& publication = change.publication;
  if (publication.published)
    std::cout << "published to shared.bin (change counter " << publication.counterBefore << " -> "
              << publication.counterAfter << "): a running stream applies it at its next block\n";
  if (publication.saved) std::cout << "saved " << session.parametersPath().toUtf8() << "\n";
  if (session.sharedFile().state() == SharedFile::State::missing && publication.saved)
    std::cout << "no shared.bin: a stream in parameter-file mode takes params.bin up within "
                 "about a second; a stream that starts later starts with it\n";
  if (!publication.saved)
    throw CtlError(ExitCode::ioFailure, publication.saveError +
                                            "; the change is live but will not survive a "
                                            "restart of the audio engine");
  return ExitCode::ok;
}

ExitCode runStatus(ControlSession& session, const CtlOptions& options) {
  session.readOnly();
  session.requireDataFolder();
  // Before any stream has run there is no shared block yet: no stream runs.
  if (session.sharedFile().state() == SharedFile::State::missing) {
    const std::string parameters = parameterFileState(session);
    if (options.json) {
      JsonWriter json;
      json.beginObject();
      json.key("dataFolder").string(session.dataFolder().toUtf8());
      json.key("mode").string("none");
      json.key("header").string("missing");
      json.key("parametersFile").string(parameters);
      json.key("stream").string("stopped");
      json.endObject();
      std::cout << json.text() << "\n";
    } else {
      std::cout << "stream       stopped (no shared.bin: no stream has run here, or streams "
                   "run in parameter-file mode)\n"
                << "params.bin   " << parameters << "\n"
                << "data folder  " << session.dataFolder().toUtf8() << "\n";
    }
    return ExitCode::notLive;
  }
  session.requireUsableSharedFile();
  const StreamObservation o = observeStream(session.sharedFile().block());
  session.requireUsableSharedFile();
  const StreamReading& r = o.reading;
  const std::string parameters = parameterFileState(session);
  if (options.json) {
    JsonWriter json;
    json.beginObject();
    json.key("dataFolder").string(session.dataFolder().toUtf8());
    json.key("dataFolderScope").string(dataFolderScope(options));
    json.key("mode").string("shared");
    json.key("header").string("valid");
    json.key("parametersFile").string(parameters);
    writeStreamJson(json, o);
    json.key("latencyMs");
    if (const std::optional<double> ms = r.latencyMs()) {
      json.number(static_cast<float>(*ms));
    } else {
      json.null();
    }
    json.endObject();
    std::cout << json.text() << "\n";
  } else {
    char format[96] = "none yet (no stream has started)";
    char latency[96] = "unknown";
    if (const std::optional<double> ms = r.latencyMs()) {
      std::snprintf(format, sizeof format, "%d Hz, %u channel%s (the last stream to start)",
                    r.sampleRate, r.channels, r.channels == 1 ? "" : "s");
      std::snprintf(latency, sizeof latency, "%d samples = %.2f ms", r.latencySamples, *ms);
    }
    std::cout << "stream       " << streamSentence(o) << "\n"
              << "format       " << format << "\n"
              << "latency      " << latency << "\n"
              << "mode         shared: streams take their records from shared.bin\n"
              << "header       \"VRLS\", version 2, 768 bytes: valid\n"
              << "counters     change " << r.changeCounter << ", relearn " << r.relearnCounter
              << "\n"
              << "bypass       " << (r.bypassActive ? "on" : "off") << " (as the stream runs)\n"
              << "params.bin   " << parameters << "\n"
              << "data folder  " << session.dataFolder().toUtf8() << " ("
              << dataFolderScope(options) << ")\n";
  }
  return o.state == StreamState::live ? ExitCode::ok : ExitCode::notLive;
}

ExitCode runShow(ControlSession& session, const CtlOptions& options) {
  session.readOnly();
  session.requireDataFolder();
  session.requireUsableSharedFile();
  const RecordInForce inForce = session.recordInForce();
  warnIfInterrupted(inForce, "streams keep their last whole record; showing " + inForce.describe() +
                                 " instead; the next 'set' recovers");
  if (options.json) {
    JsonWriter json;
    writeRecordJson(json, inForce.record);
    std::cout << json.text() << "\n";
  } else {
    std::cout << "# record in force: " << inForce.describe() << "\n"
              << formatRecordText(inForce.record);
  }
  return ExitCode::ok;
}

ExitCode runRelearn(ControlSession& session) {
  session.requireDataFolder();
  session.requireUsableSharedFile(
      "relearn needs shared.bin (a stream in parameter-file mode learns afresh when it restarts)");
  SharedBlock& block = session.sharedFile().block();
  const std::uint32_t before = sharedWord(block.relearnCounter).fetch_add(1);
  const StreamReading r = readStream(block);
  const std::optional<std::uint64_t> age = r.lastBlockAgeMs();
  const bool running = r.activeStreams > 0 && age && *age <= kStaleAfterMs;
  std::cout << "relearn requested (relearn counter " << before << " -> " << before + 1 << ")"
            << (running ? ": the running stream restarts its noise learning at its next block\n"
                        : ": no stream is processing blocks now; one that starts learns afresh "
                          "anyway\n");
  return ExitCode::ok;
}

ExitCode runPresets(ControlSession& session, const CtlOptions& options) {
  const PresetCatalog catalog = toolPresets(options.presetsDir);
  const std::vector<PresetInfo>& presets = catalog.presets();
  if (presets.empty()) throw CtlError(ExitCode::ioFailure, "no presets in " + *options.presetsDir);
  // Marking the preset in force is a courtesy: without a usable data folder there is none.
  std::optional<ParameterBlock> inForce;
  session.readOnly();
  try {
    session.requireDataFolder();
    session.requireUsableSharedFile();
    inForce = session.recordInForce().record;
  } catch (const CtlError&) {
  }
  std::size_t width = 0;
  for (const PresetInfo& preset : presets) width = std::max(width, preset.name.size());
  for (const PresetInfo& preset : presets) {
    ParameterBlock record;
    const bool current = inForce && catalog.load(preset.name, record).ok() &&
                         recordChanges(record, *inForce).empty();
    std::cout << (current ? "* " : "  ") << padded(preset.name, width) << "  " << preset.description
              << "\n";
  }
  if (const std::optional<fs::path>& folder = catalog.userFolder())
    std::cout << "your presets: " << displayPath(*folder) << "\n";
  return ExitCode::ok;
}

// preset save NAME: the record in force as one of the user's presets.
ExitCode runPresetSave(ControlSession& session, const CtlOptions& options,
                       const std::string& name) {
  const PresetCatalog catalog = toolPresets(options.presetsDir);
  if (const std::optional<std::string> refusal = catalog.nameRefusal(name))
    throw CtlError(ExitCode::usage, *refusal);
  session.requireDataFolder();
  session.requireUsableSharedFile();
  const RecordInForce inForce = session.recordInForce();
  warnIfInterrupted(inForce, "saving " + inForce.describe() + " instead");
  const bool replacing = catalog.find(name) != nullptr;
  if (options.dryRun) {
    std::cout << "dry run: would " << (replacing ? "replace" : "save") << " your preset " << name
              << " with " << inForce.describe() << "\n";
    return ExitCode::ok;
  }
  takePresetReport(catalog.save(name, inForce.record, savedDescription()), ExitCode::ioFailure);
  std::cout << (replacing ? "replaced" : "saved") << " your preset " << name << " ("
            << inForce.describe() << ") in " << displayPath(*catalog.userFolder()) << "\n";
  return ExitCode::ok;
}

ExitCode runPresetDelete(const CtlOptions& options, const std::string& name) {
  const PresetCatalog catalog = toolPresets(options.presetsDir);
  const PresetInfo* preset = catalog.find(name);
  if (options.dryRun && preset != nullptr && preset->origin == PresetOrigin::user) {
    std::cout << "dry run: would delete " << displayPath(preset->path) << "\n";
    return ExitCode::ok;
  }
  takePresetReport(catalog.remove(name), ExitCode::usage);
  std::cout << "deleted your preset " << name << "\n";
  return ExitCode::ok;
}

// mute and bypass: on, off or toggle a flag of the record in force.
ExitCode runFlag(ControlSession& session, const CtlOptions& options, Bool32 ParameterBlock::*flag) {
  const std::string& word = options.operands[0];
  return putInForce(session, options, [&](ParameterBlock& next) {
    next.*flag = word == "toggle" ? (next.*flag != 0 ? 0u : 1u) : (word == "on" ? 1u : 0u);
    return RecordReport{};
  });
}

void printMeters(const StreamObservation& o, const CtlOptions& options, bool redraw, bool first) {
  if (options.json) {
    JsonWriter json(options.once ? JsonWriter::Layout::indented : JsonWriter::Layout::oneLine);
    json.beginObject();
    writeStreamJson(json, o);
    json.endObject();
    std::cout << json.text() << "\n";
  } else if (redraw || options.once) {
    const std::vector<std::string> lines = meterLines(o);
    // Back to the first line of the previous view, each line cleared before it is rewritten.
    if (redraw && !first) std::cout << "\x1b[" << lines.size() << "F";
    for (const std::string& line : lines) std::cout << (redraw ? "\x1b[2K" : "") << line << "\n";
  } else {
    std::cout << meterLine(o) << "\n";
  }
  std::cout.flush();
}

ExitCode runMeters(ControlSession& session, const CtlOptions& options) {
  session.readOnly();
  session.requireDataFolder();
  session.requireUsableSharedFile("meters need shared.bin");
  SharedBlock& block = session.sharedFile().block();
  const bool redraw = !options.once && !options.json && enableTerminalEscapes();

  StreamObservation o = observeStream(block);
  std::uint64_t blocks = o.reading.processedBlocks;
  std::optional<std::uint64_t> lastProgressTick;
  if (o.advancing) lastProgressTick = o.reading.tick;
  for (std::uint32_t shown = 1;; ++shown) {
    printMeters(o, options, redraw, shown == 1);
    if (options.once || (options.count && shown >= *options.count)) break;
    sleepMilliseconds(options.intervalMs);
    o.reading = readStream(block);
    // A file cut short under the mapping reads as zeros: say so instead of showing them.
    session.requireUsableSharedFile("meters need shared.bin");
    if (o.reading.processedBlocks != blocks) {
      blocks = o.reading.processedBlocks;
      lastProgressTick = o.reading.tick;
    }
    o.advancing = lastProgressTick && o.reading.tick - *lastProgressTick <= kStaleAfterMs;
    o.state = classifyStream(o.reading.activeStreams, o.advancing);
  }
  return ExitCode::ok;
}

}  // namespace

ExitCode runCommand(const CtlOptions& options) {
  if (options.version) {
    std::cout << versionLine() << "\n";
    return ExitCode::ok;
  }
  const CommandInfo* command = options.command;
  if (options.help) {
    std::cout << helpText(command);
    return ExitCode::ok;
  }
  if (command != nullptr && command->name == "help") {
    if (!options.operands.empty() && options.operands[0] == kFieldsTopic) {
      std::cout << fieldReferenceText();
      return ExitCode::ok;
    }
    std::cout << helpText(options.operands.empty() ? nullptr : findCommand(options.operands[0]));
    return ExitCode::ok;
  }
  if (command == nullptr) {
    std::cerr << helpText(nullptr);
    throw CtlError(ExitCode::usage, "no command given");
  }

  const std::string_view name = command->name;
  if (name == "devices") return runDevices(options);
  if (name == "attach") return runAttach(options);
  if (name == "detach") return runDetach(options);
  if (name == "setup") return runSetup(resolveDataFolder(options));
  if (name == "path") return runPath(options);
  if (name == "doctor") return runDoctor(options, resolveDataFolder(options));
  ControlSession session(resolveDataFolder(options));
  if (name == "status") return runStatus(session, options);
  if (name == "show") return runShow(session, options);
  if (name == "relearn") return runRelearn(session);
  if (name == "presets") return runPresets(session, options);
  if (name == "meters") return runMeters(session, options);
  if (name == "panel") return runPanel(session, options);
  if (name == "set") {
    return putInForce(session, options, [&](ParameterBlock& next) {
      return applyRecordSettings(options.operands, next);
    });
  }
  if (name == "load") {
    return putInForce(session, options, [&](ParameterBlock& next) {
      return readRecordFile(pathFromUtf8(options.operands[0]), next);
    });
  }
  if (name == "preset") {
    if (options.operands.size() == 2 && options.operands[0] == "save")
      return runPresetSave(session, options, options.operands[1]);
    if (options.operands.size() == 2 && options.operands[0] == "delete")
      return runPresetDelete(options, options.operands[1]);
    const PresetCatalog catalog = toolPresets(options.presetsDir);
    return putInForce(session, options, [&](ParameterBlock& next) {
      return catalog.load(options.operands[0], next);
    });
  }
  if (name == "mute") return runFlag(session, options, &ParameterBlock::mute);
  if (name == "bypass") return runFlag(session, options, &ParameterBlock::bypass);
  if (name == "reset-defaults") {
    return putInForce(session, options, [](ParameterBlock& next) {
      setDefaults(next);
      return RecordReport{};
    });
  }
  throw CtlError(ExitCode::usage, "unhandled command '" + std::string(name) + "'");
}

}  // namespace vorlund
