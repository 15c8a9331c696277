#include "ttl_writer.h"

#include <cstdio>
#include <sstream>

#include "vorlund_version.h"

namespace vorlund::lv2 {
namespace {

constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

constexpr PluginKind kKinds[] = {PluginKind::mono, PluginKind::stereo};

// A Turtle decimal: always with a point, so the literal is a number of the kind the LV2
// vocabulary expects for ranges and defaults. Exact for every float (nine digits).
std::string decimal(float value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  std::string s = text;
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  if (const auto e = s.find('e'); e != std::string::npos && s.find('.') == std::string::npos)
    s.insert(e, ".0");
  return s;
}

// A Turtle string literal with quotes and backslashes escaped.
std::string quoted(std::string_view text) {
  std::string s = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') s += '\\';
    s += c;
  }
  return s + "\"";
}

std::string_view unitOf(std::string_view unit) {
  if (unit == "dB" || unit == "dBFS") return "units:db";
  if (unit == "Hz") return "units:hz";
  if (unit == "ms") return "units:ms";
  return {};
}

struct Range {
  float minimum;
  float maximum;
};

// The span each meter scale can show: levels from silence (-200) to the +60 dBFS an input
// sample may reach, reductions from -200 to 0, gains either way, the load as a ratio.
Range meterRange(MeterScale scale) {
  switch (scale) {
    case MeterScale::level:
      return {-200.0f, 60.0f};
    case MeterScale::reduction:
      return {-200.0f, 0.0f};
    case MeterScale::gain:
      return {-60.0f, 60.0f};
    case MeterScale::load:
      break;
  }
  return {0.0f, 100.0f};
}

class PortWriter {
 public:
  explicit PortWriter(std::ostringstream& out) : out_(out) {}

  void begin(std::string_view types, std::uint32_t index, std::string_view symbol,
             std::string_view name) {
    out_ << (index == 0 ? "    lv2:port [\n" : " , [\n") << "        a " << types << " ;\n"
         << "        lv2:index " << index << " ;\n"
         << "        lv2:symbol " << quoted(symbol) << " ;\n"
         << "        lv2:name " << quoted(name);
  }
  void line(std::string_view property, std::string_view value) {
    out_ << " ;\n        " << property << " " << value;
  }
  void range(float defaultValue, float minimum, float maximum) {
    line("lv2:default", decimal(defaultValue));
    line("lv2:minimum", decimal(minimum));
    line("lv2:maximum", decimal(maximum));
  }
  void end() { out_ << "\n    ]"; }

 private:
  std::ostringstream& out_;
};

void writeAudioPorts(PortWriter& ports, PluginKind kind) {
  const PortLayout layout = portLayout(kind);
  const bool mono = kind == PluginKind::mono;
  constexpr const char* kSides[] = {"left", "right"};
  for (std::uint32_t c = 0; c < audioChannels(kind); ++c) {
    const std::string suffix = mono ? "" : std::string("_") + kSides[c];
    const std::string title = mono ? "" : std::string(" ") + kSides[c];
    ports.begin("lv2:AudioPort , lv2:InputPort", layout.audioIn + c, "in" + suffix,
                "Input" + title);
    ports.end();
  }
  for (std::uint32_t c = 0; c < audioChannels(kind); ++c) {
    const std::string suffix = mono ? "" : std::string("_") + kSides[c];
    const std::string title = mono ? "" : std::string(" ") + kSides[c];
    ports.begin("lv2:AudioPort , lv2:OutputPort", layout.audioOut + c, "out" + suffix,
                "Output" + title);
    ports.end();
  }
}

void writeOwnControlPorts(PortWriter& ports, const PortLayout& layout) {
  constexpr const char* kInput = "lv2:ControlPort , lv2:InputPort";
  ports.begin(kInput, layout.control + kEnabledPort, "enabled", "Enabled");
  ports.line("lv2:designation", "lv2:enabled");
  ports.line("lv2:portProperty", "lv2:toggled");
  ports.line("rdfs:comment", quoted("On (1) processes the voice; off (0) is the record's bypass."));
  ports.range(1, 0, 1);
  ports.end();
  ports.begin(kInput, layout.control + kFollowPort, "follow", "Follow data folder");
  ports.line("lv2:portProperty", "lv2:toggled");
  ports.line("rdfs:comment",
             quoted("Takes the record from Vorlund's data folder, as vorlund-ctl sets it, and "
                    "publishes the meters there; the record ports are then ignored."));
  ports.range(0, 0, 1);
  ports.end();
  ports.begin(kInput, layout.control + kRelearnPort, "relearn", "Relearn noise");
  ports.line("lv2:portProperty", "lv2:toggled , pprops:trigger");
  ports.line("rdfs:comment", quoted("Restarts the noise suppressor's learning of the background."));
  ports.range(0, 0, 1);
  ports.end();
  ports.begin("lv2:ControlPort , lv2:OutputPort", layout.control + kLatencyPort, "latency",
              "Latency");
  ports.line("lv2:designation", "lv2:latency");
  ports.line("lv2:portProperty", "lv2:reportsLatency , lv2:integer");
  ports.line("units:unit", "units:frame");
  ports.line("lv2:minimum", decimal(0));
  ports.line("lv2:maximum", decimal(1 << 20));
  ports.end();
}

void writeMeterPorts(PortWriter& ports, const PortLayout& layout) {
  for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
    const MeterField& meter = kMeterFields[i];
    ports.begin("lv2:ControlPort , lv2:OutputPort", layout.meter + static_cast<std::uint32_t>(i),
                meter.key, meter.label);
    const Range range = meterRange(meter.scale);
    ports.line("lv2:minimum", decimal(range.minimum));
    ports.line("lv2:maximum", decimal(range.maximum));
    if (meter.scale != MeterScale::load) ports.line("units:unit", "units:db");
    ports.end();
  }
}

void writeFieldPorts(PortWriter& ports, const PortLayout& layout) {
  const std::span<const RecordField> fields = portFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const RecordField& field = fields[i];
    ports.begin("lv2:ControlPort , lv2:InputPort", layout.field + static_cast<std::uint32_t>(i),
                portSymbol(field.name), field.name);
    ports.line("rdfs:comment", quoted(field.meaning));
    if (field.kind == FieldKind::Flag) ports.line("lv2:portProperty", "lv2:toggled");
    if (field.kind == FieldKind::Int) ports.line("lv2:portProperty", "lv2:integer");
    if (!field.labels.empty()) {
      ports.line("lv2:portProperty", "lv2:enumeration");
      std::string points;
      for (const FieldLabel& label : field.labels) {
        points += points.empty() ? "[\n" : " , [\n";
        points += "            rdfs:label " + quoted(label.name) + " ;\n            rdf:value " +
                  decimal(label.value) + "\n        ]";
      }
      ports.line("lv2:scalePoint", points);
    }
    if (const std::string_view unit = unitOf(field.unit); !unit.empty())
      ports.line("units:unit", unit);
    ports.range(field.defaultValue, field.minimum, field.maximum);
    ports.end();
  }
}

}  // namespace

std::string presetUri(PluginKind kind, const std::string& name) {
  return std::string(pluginUri(kind)) + "#preset-" + name;
}

std::string manifestTtl(const std::vector<BundlePreset>& presets) {
  std::ostringstream out;
  out << kPrefixes;
  for (const PluginKind kind : kKinds) {
    out << "<" << pluginUri(kind) << ">\n    a lv2:Plugin ;\n    lv2:binary <" << kBinaryName
        << "> ;\n    rdfs:seeAlso <vorlund.ttl> .\n\n";
  }
  for (const PluginKind kind : kKinds) {
    for (const BundlePreset& preset : presets) {
      out << "<" << presetUri(kind, preset.info.name) << ">\n    a pset:Preset ;\n"
          << "    lv2:appliesTo <" << pluginUri(kind) << "> ;\n"
          << "    rdfs:seeAlso <presets.ttl> .\n\n";
    }
  }
  return out.str();
}

std::string pluginTtl() {
  std::ostringstream out;
  out << kPrefixes;
  for (const PluginKind kind : kKinds) {
    const bool mono = kind == PluginKind::mono;
    out << "<" << pluginUri(kind) << ">\n"
        << "    a lv2:Plugin , lv2:FilterPlugin ;\n"
        << "    doap:name " << quoted(mono ? "Vorlund voice" : "Vorlund voice (stereo in)")
        << " ;\n"
        << "    rdfs:comment "
        << quoted(mono ? "Vorlund's voice chain: clean-up, noise suppression, gate, EQ, "
                         "de-esser, loudness, compressor, effect and limiter."
                       : "Vorlund's voice chain on the mean of two channels; the processed "
                         "voice goes to both outputs.")
        << " ;\n"
        << "    lv2:minorVersion " << VORLUND_VERSION_MINOR << " ;\n"
        << "    lv2:microVersion " << VORLUND_VERSION_PATCH << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , log:log ;\n"
        << "    lv2:extensionData state:interface ;\n";
    const PortLayout layout = portLayout(kind);
    PortWriter ports(out);
    writeAudioPorts(ports, kind);
    writeOwnControlPorts(ports, layout);
    writeMeterPorts(ports, layout);
    writeFieldPorts(ports, layout);
    out << " .\n\n";
  }
  return out.str();
}

std::string presetsTtl(const std::vector<BundlePreset>& presets) {
  std::ostringstream out;
  out << kPrefixes;
  const std::span<const RecordField> fields = portFields();
  for (const PluginKind kind : kKinds) {
    for (const BundlePreset& preset : presets) {
      out << "<" << presetUri(kind, preset.info.name) << ">\n    a pset:Preset ;\n"
          << "    lv2:appliesTo <" << pluginUri(kind) << "> ;\n"
          << "    rdfs:label " << quoted(preset.info.name) << " ;\n"
          << "    rdfs:comment " << quoted(preset.info.description) << " ;\n"
          << "    lv2:port [\n        lv2:symbol \"enabled\" ;\n        pset:value "
          << decimal(preset.record.bypass != 0 ? 0.0f : 1.0f) << "\n    ]";
      for (const RecordField& field : fields) {
        const float value = fieldNumber(fieldBits(preset.record, field), field.kind);
        out << " , [\n        lv2:symbol " << quoted(portSymbol(field.name))
            << " ;\n        pset:value " << decimal(value) << "\n    ]";
      }
      out << " .\n\n";
    }
  }
  return out.str();
}

}  // namespace vorlund::lv2
