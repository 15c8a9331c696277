#include "panel_api.h"

#include <algorithm>
#include <utility>

#include "channel/parameter_channel.h"
#include "common/equaliser_response.h"
#include "common/json_writer.h"
#include "common/preset_library.h"
#include "common/record_fields.h"
#include "common/record_file.h"
#include "common/stream_state.h"
#include "common/system_error_text.h"
#include "ctl_error.h"
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

PanelResponse jsonResponse(const JsonWriter& json) {
  PanelResponse response;
  response.contentType = "application/json";
  response.body = json.text();
  return response;
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
  JsonWriter json(JsonWriter::Layout::oneLine);
  json.beginObject().key("meters").beginArray();
  for (const MeterField& meter : kMeterFields) {
    json.beginObject().key("key").string(meter.key).key("label").string(meter.label);
    json.key("scale").string(scaleName(meter.scale)).endObject();
  }
  json.endArray();
  json.key("fields").beginArray();
  for (const RecordField& field : recordFields()) {
    json.beginObject();
    json.key("name").string(field.name);
    json.key("label").string(field.label);
    json.key("offset").integer(static_cast<std::int64_t>(field.offset));
    json.key("kind").string(kindName(field.kind));
    json.key("unit").string(field.unit);
    json.key("default").number(field.defaultValue);
    json.key("minimum").number(field.minimum);
    json.key("maximum").number(field.maximum);
    json.key("stage").string(stageName(field.stage));
    json.key("stageTitle").string(stageTitle(field.stage));
    json.key("meaning").string(field.meaning);
    json.key("labels").beginArray();
    for (const FieldLabel& label : field.labels) {
      json.beginObject().key("value").number(label.value).key("name").string(label.name);
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray().endObject();
  return jsonResponse(json);
}

void writeRecord(JsonWriter& json, const ParameterBlock& record) {
  json.beginObject();
  for (const RecordField& field : recordFields())
    json.key(field.name).number(fieldNumber(fieldBits(record, field), field.kind));
  json.endObject();
}

void writePresets(JsonWriter& json, const PresetCatalog& catalog, const ParameterBlock& inForce) {
  for (const PresetInfo& preset : catalog.presets()) {
    ParameterBlock record;
    const bool current =
        catalog.load(preset.name, record).ok() && recordChanges(record, inForce).empty();
    json.beginObject();
    json.key("name").string(preset.name);
    json.key("description").string(preset.description);
    json.key("user").boolean(preset.origin == PresetOrigin::user);
    json.key("current").boolean(current);
    json.endObject();
  }
}

std::string nameOf(const JsonValue& body) {
  const JsonValue* name = body.member("name");
  return name != nullptr && name->type == JsonValue::Type::string ? name->text : std::string();
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
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    return route(request);
  } catch (const CtlError& error) {
    return refusal(409, error.what());
  } catch (const std::exception& error) {
    return refusal(500, error.what());
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

void PanelApi::writeStream(JsonWriter& json) {
  SharedFile* shared = sharedBlock();
  if (shared == nullptr) {
    const SharedFile::State state = session_.sharedFile().state();
    json.key("stream").string("none");
    json.key("sentence")
        .string(state == SharedFile::State::missing ? "no stream: no shared.bin in the data folder "
                                                      "yet. Changes are saved to params.bin; "
                                                      "a stream picks them up when it starts"
                                                    : session_.sharedFile().problem());
    return;
  }
  StreamObservation o;
  o.reading = readStream(shared->block());
  if (o.reading.processedBlocks != lastBlocks_) {
    lastBlocks_ = o.reading.processedBlocks;
    lastProgressTick_ = o.reading.tick;
  }
  o.advancing = lastProgressTick_ && o.reading.tick - *lastProgressTick_ <= kStaleAfterMs;
  o.state = classifyStream(o.reading.activeStreams, o.advancing);
  writeStreamJson(json, o);
  json.key("sentence").string(streamSentence(o));
  json.key("latencyMs");
  if (const std::optional<double> ms = o.reading.latencyMs()) {
    json.number(static_cast<float>(*ms));
  } else {
    json.null();
  }
}

std::string PanelApi::meterEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  JsonWriter json(JsonWriter::Layout::oneLine);
  json.beginObject();
  writeStream(json);
  json.endObject();
  return json.text();
}

PanelResponse PanelApi::stateResponse(const std::vector<std::string>& notices) {
  JsonWriter json(JsonWriter::Layout::oneLine);
  json.beginObject();
  json.key("dataFolder").string(session_.dataFolder().toUtf8());
  json.key("notices").beginArray();
  for (const std::string& notice : notices) json.string(notice);
  json.endArray();
  bool folderExists = true;
  try {
    session_.requireDataFolder();
  } catch (const CtlError& error) {
    folderExists = false;
    json.key("problem").string(error.what());
  }
  const RecordInForce inForce =
      folderExists ? session_.recordInForce() : RecordInForce{.record = [] {
        ParameterBlock defaults;
        setDefaults(defaults);
        return defaults;
      }()};
  json.key("source").string(inForce.describe());
  json.key("record");
  writeRecord(json, inForce.record);
  json.key("stream").beginObject();
  if (folderExists) writeStream(json);
  json.endObject();

  double rate = kDefaultRate;
  if (SharedFile* shared = folderExists ? sharedBlock() : nullptr) {
    const std::int32_t streamRate = readStream(shared->block()).sampleRate;
    if (streamRate > 0) rate = streamRate;
  }
  json.key("response").beginObject();
  json.key("sampleRate").number(static_cast<float>(rate));
  json.key("points").beginArray();
  for (const ResponsePoint& point :
       equaliserResponse(inForce.record, rate, kPlotLowHz, kPlotHighHz, kPlotPoints)) {
    json.beginArray().number(static_cast<float>(point.frequencyHz));
    json.number(static_cast<float>(point.gainDb)).endArray();
  }
  json.endArray();
  json.endObject();

  json.key("presets").beginArray();
  const PresetCatalog catalog = presets();
  writePresets(json, catalog, inForce.record);
  json.endArray();
  json.key("userPresets").boolean(catalog.userFolder().has_value());
  json.endObject();
  return jsonResponse(json);
}

PanelResponse PanelApi::putInForce(const std::function<RecordReport(ParameterBlock& next)>& build) {
  ControlSession writer(session_.dataFolder());
  writer.requireDataFolder();
  // As 'set' does: another writer's change is either complete and built upon, or not started.
  std::vector<std::string> notices;
  if (const DWORD error = writer.lockWriters(); error != ERROR_SUCCESS)
    notices.push_back("cannot take the writers' lock in the data folder (" +
                      systemErrorText(error) + "); a concurrent writer may overwrite this change");
  SharedFile& shared = writer.sharedFile();
  if (shared.foreign()) return refusal(409, shared.problem() + "; the panel leaves it alone");
  writer.requireUsableSharedFile();
  const RecordInForce inForce = writer.recordInForce();
  ParameterBlock next = inForce.record;
  const RecordReport report = build(next);
  if (!report.ok()) return refusal(400, "bad request: " + report.errors.front());
  notices.insert(notices.end(), report.warnings.begin(), report.warnings.end());
  if (!recordChanges(inForce.record, next).empty()) {
    const Publication publication = writer.commit(next);
    if (!publication.saved && !publication.published)
      return refusal(500, publication.saveError + "; nothing changed");
    if (!publication.saved)
      notices.push_back(publication.saveError +
                        "; the change is live but will not survive a restart of the audio engine");
  }
  return stateResponse(notices);
}

PanelResponse PanelApi::setFields(const JsonValue& body) {
  std::string error;
  const std::optional<std::vector<std::string>> settings = changeSettings(body, error);
  if (!settings) return refusal(400, "bad request: " + error);
  return putInForce([&](ParameterBlock& next) { return applyRecordSettings(*settings, next); });
}

// Read afresh for every request: another program may have saved or deleted a preset.
PresetCatalog PanelApi::presets() const {
  return PresetCatalog(folders_.presets, folders_.userPresets);
}

PanelResponse PanelApi::applyPreset(const JsonValue& body) {
  const PresetCatalog catalog = presets();
  return putInForce([&](ParameterBlock& next) { return catalog.load(nameOf(body), next); });
}

PanelResponse PanelApi::previewPreset(const PanelRequest& request) {
  ParameterBlock preset;
  const RecordReport report = presets().load(request.query("name").value_or(""), preset);
  if (!report.ok()) return refusal(404, report.errors.front());
  session_.requireDataFolder();
  const ParameterBlock inForce = session_.recordInForce().record;
  JsonWriter json(JsonWriter::Layout::oneLine);
  json.beginObject().key("changes").beginArray();
  for (const FieldChange& change : recordChanges(inForce, preset)) {
    json.beginObject();
    json.key("name").string(change.field->name);
    json.key("before").string(formatFieldValue(change.before, *change.field));
    json.key("after").string(formatFieldValue(change.after, *change.field));
    json.endObject();
  }
  json.endArray().endObject();
  return jsonResponse(json);
}

PanelResponse PanelApi::savePreset(const JsonValue& body) {
  const PresetCatalog catalog = presets();
  if (!catalog.userFolder()) return refusal(409, "no folder for user presets");
  const std::string name = nameOf(body);
  const JsonValue* description = body.member("description");
  const std::string text = description != nullptr && description->type == JsonValue::Type::string
                               ? description->text
                               : std::string();
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

PanelResponse PanelApi::deletePreset(const JsonValue& body) {
  const PresetCatalog catalog = presets();
  if (!catalog.userFolder()) return refusal(409, "no folder for user presets");
  const std::string name = nameOf(body);
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
