#include "panel_api.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "channel/parameter_channel.h"
#include "common/ctl_error.h"
#include "common/equaliser_response.h"
#include "common/json_writer.h"
#include "common/preset_library.h"
#include "common/record_change.h"
#include "common/record_fields.h"
#include "common/record_file.h"
#include "common/stream_state.h"
#include "common/system_error_text.h"
#include "embedded_file.h"
#include "meter_view.h"
#include "platform/system.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;

// How often a missing or unusable shared.bin is looked for again.
constexpr std::uint64_t kReopenIntervalMs = 1000;
// The equaliser plot: log frequency from 20 Hz to 20 kHz.
constexpr double kPlotLowHz = 20.0;
constexpr double kPlotHighHz = 20000.0;
constexpr int kPlotPoints = 241;
constexpr double kDefaultRate = 48000.0;

// The page's files by their ending; "/" is index.html.
std::string_view contentType(std::string_view file) {
  constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".svg", "image/svg+xml"},
  };
  for (const auto& [ending, type] : kTypes) {
    if (file.ends_with(ending)) return type;
  }
  return "application/octet-stream";
}

// Text that is not UTF-8 (a file name, a preset's description) is answered with U+FFFD.
std::string jsonText(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

PanelResponse jsonResponse(const Json& json) {
  PanelResponse response;
  response.contentType = "application/json";
  response.body = jsonText(json);
  return response;
}

// A float as the shortest decimal that reads back to it ("0.7", not 0.699999988...); null
// when not finite, as JSON has no such number.
Json number(float value) {
  if (!std::isfinite(value)) return nullptr;
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  double shortest = 0.0;
  std::from_chars(digits, end, shortest);
  return shortest;
}

// The stream's members as 'vorlund-ctl status --json' writes them, from the one writer of them.
void addStream(Json& json, const StreamObservation& observation) {
  JsonWriter writer(JsonWriter::Layout::oneLine);
  writer.beginObject();
  writeStreamJson(writer, observation);
  writer.endObject();
  json.update(Json::parse(writer.text()));
}

std::optional<PanelResponse> asset(const PanelRequest& request) {
  const std::string_view path = request.path();
  const std::string_view wanted = path == "/" ? "index.html" : path.substr(1);
  if (!path.starts_with("/") || wanted.find('/') != std::string_view::npos) return std::nullopt;
  for (const EmbeddedFile& file : embeddedFiles()) {
    if (file.name != wanted) continue;
    PanelResponse response;
    response.contentType = std::string(contentType(file.name));
    response.body = std::string(file.bytes);
    return response;
  }
  return std::nullopt;
}

std::string_view kindName(FieldKind kind) {
  switch (kind) {
    case FieldKind::Flag:
      return "flag";
    case FieldKind::Int:
      return "int";
    case FieldKind::Float:
      return "float";
  }
  return {};
}

std::string_view scaleName(MeterScale scale) {
  switch (scale) {
    case MeterScale::level:
      return "level";
    case MeterScale::reduction:
      return "reduction";
    case MeterScale::gain:
      return "gain";
    case MeterScale::load:
      return "load";
  }
  return {};
}

// The two tables the page builds itself from: the record's fields and the meters.
PanelResponse tablesResponse() {
  Json meters = Json::array();
  for (const MeterField& meter : kMeterFields)
    meters.push_back(
        {{"key", meter.key}, {"label", meter.label}, {"scale", scaleName(meter.scale)}});
  Json fields = Json::array();
  for (const RecordField& field : recordFields()) {
    Json labels = Json::array();
    for (const FieldLabel& label : field.labels)
      labels.push_back({{"value", number(label.value)}, {"name", label.name}});
    fields.push_back({{"name", field.name},
                      {"label", field.label},
                      {"offset", field.offset},
                      {"kind", kindName(field.kind)},
                      {"unit", field.unit},
                      {"default", number(field.defaultValue)},
                      {"minimum", number(field.minimum)},
                      {"maximum", number(field.maximum)},
                      {"stage", stageName(field.stage)},
                      {"stageTitle", stageTitle(field.stage)},
                      {"meaning", field.meaning},
                      {"labels", std::move(labels)}});
  }
  return jsonResponse({{"meters", std::move(meters)}, {"fields", std::move(fields)}});
}

Json recordJson(const ParameterBlock& record) {
  Json json = Json::object();
  for (const RecordField& field : recordFields())
    json[std::string(field.name)] = number(fieldNumber(fieldBits(record, field), field.kind));
  return json;
}

Json presetsJson(const PresetCatalog& catalog, const ParameterBlock& inForce) {
  Json presets = Json::array();
  for (const PresetInfo& preset : catalog.presets()) {
    ParameterBlock record;
    const bool current =
        catalog.load(preset.name, record).ok() && recordChanges(record, inForce).empty();
    presets.push_back({{"name", preset.name},
                       {"description", preset.description},
                       {"user", preset.origin == PresetOrigin::user},
                       {"current", current}});
  }
  return presets;
}

bool isPostRoute(std::string_view path) {
  return path == "/api/set" || path == "/api/preset" || path == "/api/preset/save" ||
         path == "/api/preset/delete" || path == "/api/relearn";
}

}  // namespace

PanelApi::PanelApi(const Path& dataFolder, PanelFolders folders, PanelIdentity identity)
    : session_(dataFolder), folders_(std::move(folders)), identity_(std::move(identity)) {}

bool PanelApi::isMeterStream(const PanelRequest& request) noexcept {
  return request.method == "GET" && request.path() == "/api/meters";
}

PanelResponse PanelApi::handle(const PanelRequest& request) {
  if (std::optional<PanelResponse> refused = gateRequest(request, identity_)) return *refused;
  const std::string_view path = request.path();
  // A change waits for the writers' lock without holding the panel's own, so that reads go
  // on answering meanwhile; it takes the panel's lock for its answer only.
  const bool changesRecord =
      request.method == "POST" && (path == "/api/set" || path == "/api/preset");
  std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
  if (!changesRecord) lock.lock();
  try {
    return route(request);
  } catch (const CtlError& error) {
    return refusal(statusFor(error.code()), error.what());
  } catch (const std::exception& error) {
    return refusal(500, error.what());
  }
}

int PanelApi::statusFor(ExitCode code) noexcept {
  switch (code) {
    case ExitCode::usage:
      return 400;
    case ExitCode::writersBusy:
      return 503;
    case ExitCode::ioFailure:
      return 500;
    default:
      return 409;
  }
}

PanelResponse PanelApi::route(const PanelRequest& request) {
  const std::string_view path = request.path();
  if (request.method == "GET") {
    if (std::optional<PanelResponse> page = asset(request)) return *page;
    if (path == "/api/fields") return tablesResponse();
    if (path == "/api/state") return stateResponse({});
    if (path == "/api/preview") return previewPreset(request);
    // The server sends the events itself once the request has passed.
    if (isMeterStream(request)) return PanelResponse{200, "text/event-stream", {}, {}};
    if (isPostRoute(path)) return refusal(405, "method not allowed: use POST");
    return refusal(404, "not found");
  }
  if (!isPostRoute(path)) return refusal(404, "not found");
  const BodyObject body = bodyObject(request);
  if (body.refused) return *body.refused;
  if (path == "/api/set") return setFields(*body.value);
  if (path == "/api/preset") return applyPreset(*body.value);
  if (path == "/api/preset/save") return savePreset(*body.value);
  if (path == "/api/preset/delete") return deletePreset(*body.value);
  return relearn();
}

SharedFile* PanelApi::sharedBlock() {
  SharedFile& shared = session_.sharedFile();
  if (shared.state() != SharedFile::State::mapped &&
      tickCount64() - lastOpenTick_ >= kReopenIntervalMs) {
    lastOpenTick_ = tickCount64();
    shared.close();
    session_.sharedFile();
  }
  return shared.state() == SharedFile::State::mapped ? &shared : nullptr;
}

Json PanelApi::streamJson() {
  SharedFile* shared = sharedBlock();
  if (shared == nullptr) {
    const SharedFile::State state = session_.sharedFile().state();
    return {{"stream", "none"},
            {"sentence", state == SharedFile::State::missing
                             ? "no stream: no shared.bin in the data folder yet. Changes are "
                               "saved to params.bin; a stream picks them up when it starts"
                             : session_.sharedFile().problem()}};
  }
  StreamObservation o;
  o.reading = readStream(shared->block());
  if (o.reading.processedBlocks != lastBlocks_) {
    lastBlocks_ = o.reading.processedBlocks;
    lastProgressTick_ = o.reading.tick;
  }
  o.advancing = lastProgressTick_ && o.reading.tick - *lastProgressTick_ <= kStaleAfterMs;
  o.state = classifyStream(o.reading.activeStreams, o.advancing);
  Json json = Json::object();
  addStream(json, o);
  json["sentence"] = streamSentence(o);
  const std::optional<double> ms = o.reading.latencyMs();
  json["latencyMs"] = ms ? number(static_cast<float>(*ms)) : Json(nullptr);
  return json;
}

std::string PanelApi::meterEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return jsonText(streamJson());
}

PanelResponse PanelApi::stateResponse(const std::vector<std::string>& notices) {
  Json json = {{"dataFolder", session_.dataFolder().toUtf8()}, {"notices", notices}};
  bool folderExists = true;
  try {
    session_.requireDataFolder();
  } catch (const CtlError& error) {
    folderExists = false;
    json["problem"] = error.what();
  }
  const RecordInForce inForce =
      folderExists ? session_.recordInForce() : RecordInForce{.record = [] {
        ParameterBlock defaults;
        setDefaults(defaults);
        return defaults;
      }()};
  json["source"] = inForce.describe();
  json["record"] = recordJson(inForce.record);
  json["stream"] = folderExists ? streamJson() : Json::object();

  double rate = kDefaultRate;
  if (SharedFile* shared = folderExists ? sharedBlock() : nullptr) {
    const std::int32_t streamRate = readStream(shared->block()).sampleRate;
    if (streamRate > 0) rate = streamRate;
  }
  Json points = Json::array();
  for (const ResponsePoint& point :
       equaliserResponse(inForce.record, rate, kPlotLowHz, kPlotHighHz, kPlotPoints))
    points.push_back(
        {number(static_cast<float>(point.frequencyHz)), number(static_cast<float>(point.gainDb))});
  json["response"] = {{"sampleRate", number(static_cast<float>(rate))},
                      {"points", std::move(points)}};
  const PresetCatalog catalog = presets();
  json["presets"] = presetsJson(catalog, inForce.record);
  json["userPresets"] = catalog.userFolder().has_value();
  return jsonResponse(json);
}

PanelResponse PanelApi::putInForce(const RecordBuilder& build) {
  ControlSession writer(session_.dataFolder());
  const RecordChange change = putRecordInForce(writer, build, {.lockWaitMs = kLockWaitMs});
  if (!change.report.ok()) return refusal(400, "bad request: " + change.report.errors.front());
  std::vector<std::string> notices = change.report.warnings;
  if (!change.changed) notices.emplace_back("no change");
  if (change.committed && !change.publication.saved)
    notices.push_back(change.publication.saveError +
                      "; the change is live but will not survive a restart of the audio engine");
  std::lock_guard<std::mutex> lock(mutex_);
  return stateResponse(notices);
}

PanelResponse PanelApi::setFields(const Json& body) {
  std::string error;
  const std::optional<std::vector<FieldValue>> values = changeValues(body, error);
  if (!values) return refusal(400, "bad request: " + error);
  return putInForce([&](ParameterBlock& next) { return applyRecordValues(*values, next); });
}

// Read afresh for every request: another program may have saved or deleted a preset.
PresetCatalog PanelApi::presets() const {
  return PresetCatalog(folders_.presets, folders_.userPresets);
}

PanelResponse PanelApi::applyPreset(const Json& body) {
  const PresetCatalog catalog = presets();
  const std::string name = stringMember(body, "name");
  return putInForce([&](ParameterBlock& next) { return catalog.load(name, next); });
}

PanelResponse PanelApi::previewPreset(const PanelRequest& request) {
  ParameterBlock preset;
  const RecordReport report = presets().load(request.query("name").value_or(""), preset);
  if (!report.ok()) return refusal(404, report.errors.front());
  session_.requireDataFolder();
  const ParameterBlock inForce = session_.recordInForce().record;
  Json changes = Json::array();
  for (const FieldChange& change : recordChanges(inForce, preset))
    changes.push_back({{"name", change.field->name},
                       {"before", formatFieldValue(change.before, *change.field)},
                       {"after", formatFieldValue(change.after, *change.field)}});
  return jsonResponse({{"changes", std::move(changes)}});
}

PanelResponse PanelApi::savePreset(const Json& body) {
  const PresetCatalog catalog = presets();
  if (!catalog.userFolder()) return refusal(409, "no folder for user presets");
  const std::string name = stringMember(body, "name");
  const std::string text = stringMember(body, "description");
  if (!isNewPresetName(name))
    return refusal(400, "bad request: a preset name takes up to 64 letters, digits, '-' and '_'");
  if (const std::optional<std::string> refusalText = catalog.nameRefusal(name))
    return refusal(400, "bad request: " + *refusalText);
  if (!isPresetDescription(text))
    return refusal(400, "bad request: a description is one line of up to 200 bytes");
  session_.requireDataFolder();
  const ParameterBlock inForce = session_.recordInForce().record;
  const RecordReport report =
      catalog.save(name, inForce, text.empty() ? "saved from the panel" : text);
  if (!report.ok()) return refusal(500, report.errors.front());
  return stateResponse({"saved user preset '" + name + "'"});
}

PanelResponse PanelApi::deletePreset(const Json& body) {
  const PresetCatalog catalog = presets();
  if (!catalog.userFolder()) return refusal(409, "no folder for user presets");
  const std::string name = stringMember(body, "name");
  const RecordReport report = catalog.remove(name);
  if (!report.ok()) return refusal(404, report.errors.front());
  return stateResponse({"deleted user preset '" + name + "'"});
}

PanelResponse PanelApi::relearn() {
  session_.requireDataFolder();
  SharedFile* shared = sharedBlock();
  if (shared == nullptr)
    return refusal(409,
                   "relearn needs a stream in shared mode (shared.bin); a stream that starts "
                   "learns afresh anyway");
  sharedWord(shared->block().relearnCounter).fetch_add(1);
  return stateResponse({"relearning the background noise"});
}

}  // namespace vorlund
