// The stream as the shared block shows it: the status fields and meters read at one moment,
// whether blocks keep coming, and the one table of meters that every view of them walks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/json_writer.h"
#include "engine/meter_table.h"
#include "engine/shared_block.h"

namespace vorlund {

// The status and meter fields at one moment (the effect may write between two fields).
struct StreamReading {
  std::uint64_t tick = 0;  // this system's tick count when read
  std::uint64_t processedBlocks = 0;
  std::uint64_t lastBlockTick = 0;
  std::int32_t activeStreams = 0;
  std::int32_t sampleRate = 0;
  std::uint32_t channels = 0;
  std::int32_t latencySamples = 0;
  bool voiceActive = false;
  bool bypassActive = false;
  std::uint32_t changeCounter = 0;
  std::uint32_t relearnCounter = 0;
  std::array<float, kMeterFields.size()> meters{};  // in kMeterFields order

  // Milliseconds since the last block; none when no block was processed since the system
  // started.
  std::optional<std::uint64_t> lastBlockAgeMs() const;
  // The processing delay in milliseconds; none before any stream set the format.
  std::optional<double> latencyMs() const;
};

StreamReading readStream(SharedBlock& block);

enum class StreamState {
  live,     // blocks are coming
  stale,    // streams are counted as active, but no block comes
  stopped,  // no active stream and no block
};

// Blocks that come decide; without them the count of active streams tells stale from stopped.
StreamState classifyStream(std::int32_t activeStreams, bool advancing) noexcept;
std::string_view stateName(StreamState state) noexcept;

struct StreamObservation {
  StreamReading reading;  // the last one
  bool advancing = false;
  StreamState state = StreamState::stopped;
};

// How long to watch the block count before calling a stream stale: a stream delivers a block
// every 10 ms or so, so half a second without one is no hiccup.
constexpr std::uint32_t kStaleAfterMs = 500;

// Watches the block count for up to `windowMs`, returning as soon as it moves.
StreamObservation observeStream(SharedBlock& block, std::uint32_t windowMs = kStaleAfterMs);

// The observation as the members of an open JSON object.
void writeStreamJson(JsonWriter& json, const StreamObservation& observation);

}  // namespace vorlund
