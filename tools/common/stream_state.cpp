#include "common/stream_state.h"

#include "platform/system.h"

namespace vorlund {
namespace {

// How often the block count is looked at while watching it.
constexpr std::uint32_t kPollMs = 5;
// How far a block's stamp may lie after a reading's own tick and still count as fresh.
constexpr std::uint64_t kClockSlackMs = 1000;

template <typename T>
T load(T& word) {
  return sharedWord(word).load(std::memory_order_relaxed);
}

}  // namespace

std::optional<std::uint64_t> StreamReading::lastBlockAgeMs() const {
  if (processedBlocks == 0 || lastBlockTick == 0) return std::nullopt;
  if (lastBlockTick <= tick) return tick - lastBlockTick;
  // Stamped just after this reading's tick was taken: a fresh block. Far in the future: a
  // stamp from before the system last started, whose age nobody knows.
  return lastBlockTick - tick <= kClockSlackMs ? std::optional<std::uint64_t>(0) : std::nullopt;
}

std::optional<double> StreamReading::latencyMs() const {
  if (sampleRate <= 0) return std::nullopt;
  return 1000.0 * latencySamples / sampleRate;
}

StreamReading readStream(SharedBlock& block) {
  StreamReading r;
  r.processedBlocks = load(block.processedBlocks);
  r.lastBlockTick = load(block.lastBlockTick);
  r.tick = tickCount64();
  r.activeStreams = load(block.activeStreams);
  r.sampleRate = load(block.streamSampleRate);
  r.channels = load(block.streamChannels);
  r.latencySamples = load(block.latencySamples);
  r.voiceActive = load(block.voiceActive) != 0;
  r.bypassActive = load(block.bypassActive) != 0;
  r.changeCounter = load(block.changeCounter);
  r.relearnCounter = load(block.relearnCounter);
  for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
    r.meters[i] = load(block.*kMeterFields[i].member);
  }
  return r;
}

StreamState classifyStream(std::int32_t activeStreams, bool advancing) noexcept {
  if (advancing) return StreamState::live;
  return activeStreams > 0 ? StreamState::stale : StreamState::stopped;
}

std::string_view stateName(StreamState state) noexcept {
  switch (state) {
    case StreamState::live:
      return "live";
    case StreamState::stale:
      return "stale";
    case StreamState::stopped:
      return "stopped";
  }
  return "";
}

StreamObservation observeStream(SharedBlock& block, std::uint32_t windowMs) {
  StreamObservation o;
  const StreamReading first = readStream(block);
  o.reading = first;
  for (std::uint32_t waited = 0; waited < windowMs && !o.advancing; waited += kPollMs) {
    sleepMilliseconds(kPollMs);
    o.reading = readStream(block);
    o.advancing = o.reading.processedBlocks != first.processedBlocks;
  }
  o.state = classifyStream(o.reading.activeStreams, o.advancing);
  return o;
}

void writeStreamJson(JsonWriter& json, const StreamObservation& o) {
  const StreamReading& r = o.reading;
  json.key("stream").string(stateName(o.state));
  json.key("activeStreams").integer(r.activeStreams);
  json.key("processedBlocks").integer(static_cast<std::int64_t>(r.processedBlocks));
  json.key("lastBlockAgeMs");
  if (const std::optional<std::uint64_t> age = r.lastBlockAgeMs()) {
    json.integer(static_cast<std::int64_t>(*age));
  } else {
    json.null();
  }
  json.key("sampleRate").integer(r.sampleRate);
  json.key("channels").integer(r.channels);
  json.key("latencySamples").integer(r.latencySamples);
  json.key("voiceActive").boolean(r.voiceActive);
  json.key("bypassActive").boolean(r.bypassActive);
  json.key("changeCounter").integer(r.changeCounter);
  json.key("relearnCounter").integer(r.relearnCounter);
  for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
    json.key(kMeterFields[i].key).number(r.meters[i]);
  }
}

}  // namespace vorlund
