// The text form of the parameter record, shared by the tools: one "name = value" per line,
// names as in recordFields(), '#' starting a comment (whole-line or trailing), blank lines
// ignored. Fields not named keep the factory defaults. Flags take 0, 1, true, false, on or off;
// ints are decimal (saturating at the int32 range); floats are decimal, nan and inf included,
// rounding like IEEE (1e50 becomes inf, 1e-50 becomes 0). A choice also takes its labels in
// any case ("eqBands[1].type = peaking"), and the text form writes a choice by its label.
//
// As everywhere in the system, a record is never refused for its values: the result is
// sanitised and every field that sanitising changed is reported as a warning. It is refused
// (errors, record untouched) only for text it cannot read: a line without '=', an unknown
// name (with the nearest valid name), a value of the wrong form, or a name given twice in one
// text, since the writer's intent is then unknown. Settings typed on a command line
// (applyRecordSettings) follow the same rules and refuse, besides, a value that is not a
// finite number: typed by hand, nan or inf is a mistake, not a value to clamp.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/parameter_block.h"

namespace vorlund {

// Messages lead with where they arise ("line 12: ...", "setting 'compRatio=50': ...").
struct RecordReport {
  std::vector<std::string> errors;    // the record was not taken
  std::vector<std::string> warnings;  // the record was taken; these values were changed
  bool ok() const noexcept { return errors.empty(); }
};

// Reads a text record over the defaults; on success `record` holds the sanitised result.
RecordReport parseRecordText(std::string_view text, ParameterBlock& record);

// Applies "name=value" settings on top of `record`, with the same validation and reporting
// as the text form, non-finite values refused; on success `record` holds the sanitised result.
RecordReport applyRecordSettings(std::span<const std::string> settings, ParameterBlock& record);

// One field's new value as a program hands it over: a switch as a boolean, a number, or a
// choice's label.
struct FieldValue {
  std::string name;
  std::variant<bool, double, std::string> value;
};

// Applies typed values on top of `record` with the rules of applyRecordSettings: a flag takes
// a boolean (or 0 or 1), an int a whole number, a float a finite number, a choice also its
// label; nothing is read back from text.
RecordReport applyRecordValues(std::span<const FieldValue> values, ParameterBlock& record);

// Every field, one line each, in offset order. Parsing the text of a sanitised record gives it
// back bit for bit (the header as setDefaults writes it, the reserved bytes zero).
std::string formatRecordText(const ParameterBlock& record);

// Sanitises `record` and warns about each field that changed, for records read as binary.
RecordReport sanitiseReporting(ParameterBlock& record);

}  // namespace vorlund
