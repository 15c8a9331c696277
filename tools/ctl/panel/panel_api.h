// What the control panel answers: the page, the field table, the state (record in force,
// stream, equaliser curve, presets), the meter events, and the actions that change things,
// each through the same path as the vorlund-ctl command that does it (
// putRecordInForce for records, the relearn counter for relearning). Requests come here after
// the server has read them within the size limits; every one passes gateRequest first. Calls
// may come from several connections at once: one lock keeps them in turn, which a change
// takes only once it holds the writers' lock, so reads never wait on another writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/ctl_error.h"
#include "common/preset_library.h"
#include "common/record_change.h"
#include "panel_request.h"

namespace vorlund {

struct PanelFolders {
  std::optional<std::filesystem::path> presets;      // shipped presets; none: those built in
  std::optional<std::filesystem::path> userPresets;  // the user's own; none when unnamed
};

class PanelApi {
 public:
  PanelApi(const Path& dataFolder, PanelFolders folders, PanelIdentity identity);

  const PanelIdentity& identity() const noexcept { return identity_; }

  // The answer to `request`, refusals included.
  PanelResponse handle(const PanelRequest& request);

  // Whether a request that passed the gate asks for the meter events, which the server sends
  // as a stream of meterEvent() every kMeterIntervalMs.
  static bool isMeterStream(const PanelRequest& request) noexcept;
  static constexpr std::uint32_t kMeterIntervalMs = 50;
  // How long a change waits for another writer before it is answered 503.
  static constexpr std::uint32_t kLockWaitMs = 2000;
  // One reading of the stream as a JSON object on one line.
  std::string meterEvent();

 private:
  // The answer to a refusal that carries one of vorlund-ctl's exit codes.
  static int statusFor(ExitCode code) noexcept;
  PanelResponse route(const PanelRequest& request);
  PanelResponse stateResponse(const std::vector<std::string>& notices);
  // Builds the next record from the one in force and puts it in force, in a writer's session
  // of its own, as 'vorlund-ctl set' does; a report with errors changes nothing (400), a
  // record without changes is not committed.
  PanelResponse putInForce(const RecordBuilder& build);
  PanelResponse setFields(const Json& body);
  PanelResponse applyPreset(const Json& body);
  PanelResponse previewPreset(const PanelRequest& request);
  PanelResponse savePreset(const Json& body);
  PanelResponse deletePreset(const Json& body);
  PanelResponse relearn();
  // The shared block when it is mapped; looks again now and then while it is not, since a
  // stream that starts creates it.
  SharedFile* sharedBlock();
  // The stream's part of the state, and a meter event.
  Json streamJson();
  PresetCatalog presets() const;

  std::mutex mutex_;
  ControlSession session_;
  PanelFolders folders_;
  PanelIdentity identity_;
  std::uint64_t lastOpenTick_ = 0;
  std::uint64_t lastBlocks_ = 0;
  std::optional<std::uint64_t> lastProgressTick_;
};

}  // namespace vorlund
