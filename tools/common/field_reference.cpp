#include "common/field_reference.h"

#include <optional>
#include <string_view>

#include "common/number_text.h"
#include "common/record_fields.h"

namespace vorlund {
namespace {

std::string withUnit(float value, std::string_view unit) {
  std::string text = shortestText(value);
  if (!unit.empty()) text.append(" ").append(unit);
  return text;
}

bool isBandField(const RecordField& field) {
  return field.name.starts_with("eqBands[");
}

// Band 0's fields stand for all ten; the others are left out of the listings.
bool listed(const RecordField& field) {
  return !isBandField(field) || field.name.starts_with("eqBands[0]");
}

std::string listedName(const RecordField& field) {
  if (!isBandField(field)) return std::string(field.name);
  std::string name = "eqBands[N]";
  name.append(field.name.substr(field.name.find('.')));
  return name;
}

// Each band's factory values, as one line of the band table.
std::string bandDefaults(int band) {
  std::string line;
  for (const RecordField& field : recordFields()) {
    std::string prefix = "eqBands[";
    prefix.append(std::to_string(band)).append("]");
    if (!field.name.starts_with(prefix)) continue;
    line.append(" ").append(fieldDefaultText(field)).append(" |");
  }
  return line;
}

}  // namespace

std::string fieldRangeText(const RecordField& field) {
  if (field.kind == FieldKind::Flag) return "on or off";
  if (!field.labels.empty()) {
    std::string text;
    for (const FieldLabel& label : field.labels) {
      if (!text.empty()) text += ", ";
      text.append(label.name);
      text.append(" (").append(shortestText(label.value)).append(")");
    }
    return text;
  }
  return shortestText(field.minimum) + " to " + withUnit(field.maximum, field.unit);
}

std::string fieldDefaultText(const RecordField& field) {
  if (field.kind == FieldKind::Flag) return field.defaultValue != 0 ? "on" : "off";
  const std::string_view label = labelName(field, field.defaultValue);
  if (!label.empty()) return std::string(label);
  return withUnit(field.defaultValue, field.unit);
}

std::string fieldReferenceText() {
  std::string text =
      "The fields of the parameter record, by stage. Set them with 'vorlund-ctl set\n"
      "NAME=VALUE'; a choice takes its label or its number, a switch on/off/1/0. The ten\n"
      "equaliser bands eqBands[0] to eqBands[9] have the same fields ('vorlund-ctl show'\n"
      "prints each band's values).\n";
  std::optional<FieldStage> stage;
  for (const RecordField& field : recordFields()) {
    if (!listed(field)) continue;
    if (field.stage != stage) {
      stage = field.stage;
      text.append("\n").append(stageTitle(field.stage)).append("\n");
    }
    std::string name = "  ";
    name.append(listedName(field));
    name.resize(name.size() < 22 ? 22 : name.size() + 1, ' ');
    text.append(name).append(field.meaning).append("\n");
    text.append(22, ' ').append(fieldRangeText(field));
    if (!isBandField(field)) text.append("; default ").append(fieldDefaultText(field));
    text += "\n";
  }
  return text;
}

std::string fieldReferenceMarkdown() {
  std::string text =
      "# Parameter reference\n\n"
      "<!-- Generated from the record's field table by vorlund-field-docs; a test fails when "
      "this file is stale. Regenerate: cmake --build --preset linux-release --target "
      "parameters-doc -->\n\n"
      "Every field of the parameter record, grouped by the stage it sets. Names are as "
      "`vorlund-ctl set` and the text records in `presets/` take them; a choice takes its "
      "label (in any case) or its number, a switch `on`, `off`, `1` or `0`. Values outside a "
      "range are clamped to it, never refused.\n";
  std::optional<FieldStage> stage;
  for (const RecordField& field : recordFields()) {
    if (!listed(field)) continue;
    if (field.stage != stage) {
      stage = field.stage;
      text.append("\n## ").append(stageTitle(field.stage)).append("\n\n");
      text += "| field | values | default | meaning |\n|---|---|---|---|\n";
    }
    text.append("| `").append(listedName(field)).append("` | ").append(fieldRangeText(field));
    text.append(" | ").append(isBandField(field) ? "per band" : fieldDefaultText(field));
    text.append(" | ").append(field.meaning).append(" |\n");
  }
  text +=
      "\n### Equaliser bands: factory values\n\n"
      "| band | enabled | type | freqHz | gainDb | q |\n|---|---|---|---|---|---|\n";
  for (int band = 0; band < ParameterBlock::kBandCount; ++band) {
    text.append("| ").append(std::to_string(band)).append(" |").append(bandDefaults(band));
    text += "\n";
  }
  return text;
}

}  // namespace vorlund
