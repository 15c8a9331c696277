#include "meter_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/number_text.h"

namespace vorlund {
namespace {

constexpr int kBarWidth = 40;
constexpr int kLabelWidth = 18;
// The lowest level a bar shows, and the most gain change.
constexpr float kBarFloorDb = -60.0f;
constexpr float kBarRangeDb = 30.0f;

// The fraction of a bar that `value` fills, 0 to 1.
float filled(float value, MeterScale scale) {
  if (!std::isfinite(value)) return 0.0f;
  float fraction = 0.0f;
  switch (scale) {
    case MeterScale::level:
      fraction = (value - kBarFloorDb) / -kBarFloorDb;
      break;
    case MeterScale::reduction:
      fraction = -value / kBarRangeDb;
      break;
    case MeterScale::gain:
      fraction = std::fabs(value) / kBarRangeDb;
      break;
    case MeterScale::load:
      fraction = value;
      break;
  }
  return std::clamp(fraction, 0.0f, 1.0f);
}

// The value as a person reads it: silence and a gain of zero (-200 in the block) as -inf.
std::string valueText(float value, MeterScale scale) {
  char text[32];
  // A value that rounds to nothing reads 0.0, never -0.0.
  if (std::fabs(value) < 0.05f) value = 0.0f;
  if (scale == MeterScale::load) {
    std::snprintf(text, sizeof text, "%7.1f %% ", 100.0f * value);
  } else if (value <= kSilenceDb) {
    std::snprintf(text, sizeof text, "   -inf dB");
  } else if (scale == MeterScale::gain) {
    std::snprintf(text, sizeof text, "%+7.1f dB", value);
  } else {
    std::snprintf(text, sizeof text, "%7.1f dB", value);
  }
  return text;
}

std::string seconds(std::uint64_t milliseconds) {
  char text[32];
  if (milliseconds < 1000) {
    std::snprintf(text, sizeof text, "%llu ms", static_cast<unsigned long long>(milliseconds));
  } else {
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
  }
  return text;
}

std::string lastBlockText(const StreamReading& r) {
  const std::optional<std::uint64_t> age = r.lastBlockAgeMs();
  return age ? "last block " + seconds(*age) + " ago" : "no block since the system started";
}

std::string plural(std::int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

std::string meterBar(float value, MeterScale scale, int width) {
  const int n = static_cast<int>(std::lround(filled(value, scale) * static_cast<float>(width)));
  return std::string(static_cast<std::size_t>(n), '#') +
         std::string(static_cast<std::size_t>(width - n), '.');
}

std::string streamSentence(const StreamObservation& o) {
  const StreamReading& r = o.reading;
  const std::string blocks = std::to_string(r.processedBlocks) + " processed";
  switch (o.state) {
    case StreamState::live:
      return "live: " + plural(r.activeStreams, "active stream") + ", blocks coming (" + blocks +
             "), " + lastBlockText(r);
    case StreamState::stale:
      return "stale: " + plural(r.activeStreams, "stream") +
             " counted as active, but no block is coming (" + blocks + ", " + lastBlockText(r) +
             "); the audio engine may have stopped without unlocking";
    case StreamState::stopped:
      return "stopped: no active stream (" + blocks + " in all, " + lastBlockText(r) + ")";
  }
  return {};
}

std::vector<std::string> meterLines(const StreamObservation& o) {
  const StreamReading& r = o.reading;
  std::vector<std::string> lines;
  char head[160];
  std::snprintf(head, sizeof head, "Vorlund meters: %d Hz, %u ch, latency %d samples, block %llu",
                r.sampleRate, r.channels, r.latencySamples,
                static_cast<unsigned long long>(r.processedBlocks));
  lines.emplace_back(head);
  lines.emplace_back();
  for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
    const MeterField& field = kMeterFields[i];
    std::string label(field.label);
    label.resize(kLabelWidth, ' ');
    lines.push_back(label + valueText(r.meters[i], field.scale) + "  [" +
                    meterBar(r.meters[i], field.scale, kBarWidth) + "]");
  }
  std::string voice = "voice activity";
  voice.resize(kLabelWidth, ' ');
  lines.push_back(voice + (r.voiceActive ? "VOICE" : "-    ") +
                  (r.bypassActive ? "      BYPASSED" : ""));
  lines.emplace_back();
  lines.push_back((o.state == StreamState::live ? "" : "!! ") + streamSentence(o));
  return lines;
}

std::string meterLine(const StreamObservation& o) {
  const StreamReading& r = o.reading;
  std::string line =
      "stream=" + std::string(stateName(o.state)) + " blocks=" + std::to_string(r.processedBlocks) +
      " voice=" + (r.voiceActive ? "yes" : "no") + " bypass=" + (r.bypassActive ? "yes" : "no");
  for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
    const std::string value =
        fixedText(r.meters[i], kMeterFields[i].scale == MeterScale::load ? 3 : 1);
    // Appended piecewise: GCC 12 misreads " " + std::string at -O3 (-Wrestrict).
    line += ' ';
    line += kMeterFields[i].key;
    line += '=';
    line += value;
  }
  return line;
}

}  // namespace vorlund
