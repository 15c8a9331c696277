// The plugin's ports, which the plugin and the .ttl generator both derive from here: the audio
// ports, four control ports of the plugin's own (enabled, follow, relearn, latency), one
// output per meter of the meter table, and one input per record field. The record's bypass
// field has no port of its own: it is the inverse of the designated `lv2:enabled` port.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/field_table.h"
#include "engine/meter_table.h"

namespace vorlund::lv2 {

// The two plugins of the bundle: mono in and out, and stereo in with the processed mono on
// both outputs.
enum class PluginKind { mono, stereo };

inline constexpr std::string_view kBundleUri = "urn:vorlund:lv2";
inline constexpr std::string_view kMonoUri = "urn:vorlund:lv2:voice";
inline constexpr std::string_view kStereoUri = "urn:vorlund:lv2:voice-stereo";
// The state property that holds the whole record, as its 524 bytes.
inline constexpr std::string_view kRecordStateUri = "urn:vorlund:lv2#record";

inline constexpr std::string_view pluginUri(PluginKind kind) {
  return kind == PluginKind::mono ? kMonoUri : kStereoUri;
}

inline constexpr std::uint32_t audioChannels(PluginKind kind) {
  return kind == PluginKind::mono ? 1 : 2;
}

// Control ports in order after the audio ports (inputs first, then outputs).
enum ControlPort : std::uint32_t { kEnabledPort, kFollowPort, kRelearnPort, kLatencyPort };
inline constexpr std::uint32_t kOwnControlPorts = 4;
inline constexpr std::uint32_t kMeterPorts = static_cast<std::uint32_t>(kMeterFields.size());

inline bool isBypassField(const RecordField& field) {
  return field.name == "bypass";
}

// The record fields that have a port, in offset order: every field but bypass.
inline std::span<const RecordField> portFields() {
  const std::span<const RecordField> fields = recordFields();
  return isBypassField(fields.front()) ? fields.subspan(1) : fields;
}

struct PortLayout {
  std::uint32_t audioIn;   // first audio input
  std::uint32_t audioOut;  // first audio output
  std::uint32_t control;   // the enabled port; the plugin's own ports follow it
  std::uint32_t meter;     // the first meter output
  std::uint32_t field;     // the first record field input
  std::uint32_t total;
};

inline PortLayout portLayout(PluginKind kind) {
  const std::uint32_t channels = audioChannels(kind);
  const std::uint32_t control = 2 * channels;
  const std::uint32_t meter = control + kOwnControlPorts;
  const std::uint32_t field = meter + kMeterPorts;
  return {0,     channels, control,
          meter, field,    field + static_cast<std::uint32_t>(portFields().size())};
}

// An LV2 symbol for a field name: "eqBands[3].gainDb" becomes "eqBands_3_gainDb".
inline std::string portSymbol(std::string_view name) {
  std::string symbol;
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (word) {
      symbol += c;
    } else if (!symbol.empty() && symbol.back() != '_') {
      symbol += '_';
    }
  }
  while (!symbol.empty() && symbol.back() == '_') symbol.pop_back();
  return symbol;
}

}  // namespace vorlund::lv2
