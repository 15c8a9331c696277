#include "common/record_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "common/nearest_name.h"
#include "common/record_fields.h"

namespace vorlund {
namespace {

constexpr std::string_view kSpace = " \t\r\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHeaderNames[] = {"magic", "version", "size", "reserved"};
// Beyond this many errors the text is most likely not a record at all.
constexpr std::size_t kMaxErrors = 20;

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// from_chars takes a '-' but no '+'; "+-1" must stay malformed.
std::string_view withoutPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

std::optional<std::uint32_t> parseFlag(std::string_view text) {
  for (std::string_view on : {"1", "true", "on"}) {
    if (equalsIgnoringCase(text, on)) return 1u;
  }
  for (std::string_view off : {"0", "false", "off"}) {
    if (equalsIgnoringCase(text, off)) return 0u;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> parseInt(std::string_view text) {
  text = withoutPlus(text);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  // Too many digits is a value, not a form: saturate and let sanitising clamp it.
  if (error == std::errc::result_out_of_range) {
    value = text[0] == '-' ? std::numeric_limits<std::int32_t>::min()
                           : std::numeric_limits<std::int32_t>::max();
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return std::bit_cast<std::uint32_t>(value);
}

// For a well-formed decimal that float cannot hold: true when it is too large rather than
// too small, judged by the power of ten of its first significant digit.
bool beyondLargestFloat(std::string_view text) {
  constexpr long long kExponentCap = 1000000;  // far beyond any float, small enough not to wrap
  const std::size_t e = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, e);
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = text.substr(e + 1);
    const bool negative = digits[0] == '-';
    if (digits[0] == '-' || digits[0] == '+') digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
    if (negative) exponent = -exponent;
  }
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return false;
  const long long power = first < point ? static_cast<long long>(point - first) - 1
                                        : -static_cast<long long>(first - point);
  return exponent + power > 0;
}

std::optional<std::uint32_t> parseFloat(std::string_view text) {
  text = withoutPlus(text);
  float value = 0.0f;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    value = beyondLargestFloat(text) ? std::numeric_limits<float>::infinity() : 0.0f;
    if (text[0] == '-') value = -value;
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return std::bit_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> parseValue(std::string_view text, const RecordField& field) {
  if (const std::optional<float> labelled = labelValue(field, text)) {
    return numberBits(*labelled, field.kind);
  }
  switch (field.kind) {
    case FieldKind::Flag:
      return parseFlag(text);
    case FieldKind::Int:
      return parseInt(text);
    case FieldKind::Float:
      return parseFloat(text);
  }
  return std::nullopt;
}

// A typed number as a field of this kind stores it: a flag 0 or 1, an int a whole number
// within int32, a float a finite number within the float range; none otherwise.
std::optional<std::uint32_t> numberValue(double number, FieldKind kind) {
  switch (kind) {
    case FieldKind::Flag:
      if (number == 0.0 || number == 1.0) return static_cast<std::uint32_t>(number);
      return std::nullopt;
    case FieldKind::Int:
      if (number != std::trunc(number) || std::abs(number) > 2147483647.0) return std::nullopt;
      return static_cast<std::uint32_t>(static_cast<std::int32_t>(number));
    case FieldKind::Float:
      if (!std::isfinite(number) ||
          std::abs(number) > static_cast<double>(std::numeric_limits<float>::max()))
        return std::nullopt;
      return std::bit_cast<std::uint32_t>(static_cast<float>(number));
  }
  return std::nullopt;
}

std::string expectedForm(const RecordField& field) {
  std::string form;
  switch (field.kind) {
    case FieldKind::Flag:
      return "a flag (0, 1, true, false, on or off)";
    case FieldKind::Int:
      form = "a whole number";
      break;
    case FieldKind::Float:
      form = "a number";
      break;
  }
  if (field.labels.empty()) return form;
  form += " or one of";
  for (const FieldLabel& label : field.labels) form.append(" ").append(label.name);
  return form;
}

std::string unknownNameMessage(std::string_view name) {
  std::string quotedName = "'";
  quotedName.append(name).append("'");
  if (std::find(std::begin(kHeaderNames), std::end(kHeaderNames), name) != std::end(kHeaderNames)) {
    return quotedName + " belongs to the record header, which the system writes itself";
  }
  std::vector<std::string> names;
  for (const RecordField& field : recordFields()) names.emplace_back(field.name);
  return "unknown name " + quotedName + "; did you mean '" + nearestName(name, names) + "'?";
}

// Where each field was set and the value as written, so warnings quote the user's own text.
struct Origin {
  std::string where;
  std::string valueText;
  int sequence = 0;  // order of the assignment; 0 for fields never assigned
};

// A record being edited by assignments, with the origin of every field set so far.
class RecordEdit {
 public:
  explicit RecordEdit(const ParameterBlock& start)
      : record_(start), origins_(recordFields().size()) {}

  // Applies one "name = value"; `where` leads every message about it. A name is set once;
  // `finiteOnly` refuses nan and infinities (and numbers beyond a float) outright.
  void assign(std::string_view statement, const std::string& where, bool finiteOnly) {
    const std::size_t equals = statement.find('=');
    if (equals == std::string_view::npos) {
      fail(where, "expected 'name = value', found '" + std::string(statement) + "'");
      return;
    }
    const std::string_view name = trim(statement.substr(0, equals));
    const std::string_view value = trim(statement.substr(equals + 1));
    const RecordField* field = claim(name, where);
    if (field == nullptr) return;
    if (value.empty()) {
      fail(where, std::string(name) + " has no value");
      return;
    }
    const std::optional<std::uint32_t> bits = parseValue(value, *field);
    if (!bits) {
      fail(where,
           std::string(name) + ": '" + std::string(value) + "' is not " + expectedForm(*field));
      return;
    }
    if (finiteOnly && field->kind == FieldKind::Float &&
        !std::isfinite(std::bit_cast<float>(*bits))) {
      fail(where, std::string(name) + ": '" + std::string(value) + "' is not a finite number");
      return;
    }
    store(*field, *bits, where, std::string(value));
  }

  // Applies one typed value, with the same checks and messages as the text.
  void assign(const FieldValue& given, const std::string& where) {
    const RecordField* field = claim(given.name, where);
    if (field == nullptr) return;
    std::optional<std::uint32_t> bits;
    std::string shown;
    if (const bool* flag = std::get_if<bool>(&given.value)) {
      shown = *flag ? "true" : "false";
      if (field->kind == FieldKind::Flag) bits = *flag ? 1u : 0u;
    } else if (const double* number = std::get_if<double>(&given.value)) {
      shown = formatFieldValue(std::bit_cast<std::uint32_t>(static_cast<float>(*number)),
                               FieldKind::Float);
      bits = numberValue(*number, field->kind);
    } else {
      shown = std::get<std::string>(given.value);
      if (const std::optional<float> labelled = labelValue(*field, shown))
        bits = numberBits(*labelled, field->kind);
    }
    if (!bits) {
      fail(where, given.name + ": '" + shown + "' is not " + expectedForm(*field));
      return;
    }
    store(*field, *bits, where, shown);
  }

  // Sanitises and warns about every field that changed, quoting the value as written, in
  // the order of the assignments (fields never assigned first, in record order).
  void sanitiseReporting() {
    const ParameterBlock before = record_;
    sanitise(record_);
    std::vector<std::pair<int, std::string>> changes;
    for (const FieldChange& change : recordChanges(before, record_)) {
      const RecordField& field = *change.field;
      const Origin& origin = origins_[&field - recordFields().data()];
      const std::string given =
          origin.where.empty() ? formatFieldValue(change.before, field.kind) : origin.valueText;
      changes.emplace_back(origin.sequence, (origin.where.empty() ? "" : origin.where + ": ") +
                                                std::string(field.name) + " = " + given +
                                                " clamped to " +
                                                formatFieldValue(change.after, field.kind));
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& change : changes) report_.warnings.push_back(std::move(change.second));
  }

  bool tooManyErrors() const { return report_.errors.size() >= kMaxErrors; }
  const ParameterBlock& record() const { return record_; }
  RecordReport& report() { return report_; }

 private:
  void fail(const std::string& where, const std::string& message) {
    report_.errors.push_back(where + ": " + message);
  }

  // The field `name` names, once per edit; none after reporting why not.
  const RecordField* claim(std::string_view name, const std::string& where) {
    if (name.empty()) {
      fail(where, "missing name before '='");
      return nullptr;
    }
    const RecordField* field = findRecordField(name);
    if (field == nullptr) {
      fail(where, unknownNameMessage(name));
      return nullptr;
    }
    const Origin& origin = origins_[field - recordFields().data()];
    if (!origin.where.empty()) {
      fail(where, std::string(name) + " is already set on " + origin.where);
      return nullptr;
    }
    return field;
  }

  void store(const RecordField& field, std::uint32_t bits, const std::string& where,
             std::string valueText) {
    setFieldBits(record_, field, bits);
    origins_[&field - recordFields().data()] = {where, std::move(valueText), ++assignments_};
  }

  ParameterBlock record_;
  std::vector<Origin> origins_;
  int assignments_ = 0;
  RecordReport report_;
};

// Takes the edit's record when it has no errors; the report is the caller's either way.
RecordReport finish(RecordEdit& edit, ParameterBlock& record) {
  if (edit.report().ok()) {
    edit.sanitiseReporting();
    record = edit.record();
  }
  return std::move(edit.report());
}

}  // namespace

RecordReport parseRecordText(std::string_view text, ParameterBlock& record) {
  ParameterBlock defaults;
  setDefaults(defaults);
  RecordEdit edit(defaults);
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    if (edit.tooManyErrors()) {
      edit.report().errors.push_back("line " + std::to_string(lineNumber) +
                                     ": too many errors, stopped reading");
      break;
    }
    edit.assign(line, "line " + std::to_string(lineNumber), false);
  }
  return finish(edit, record);
}

RecordReport applyRecordSettings(std::span<const std::string> settings, ParameterBlock& record) {
  RecordEdit edit(record);
  for (const std::string& setting : settings) {
    edit.assign(trim(setting), "setting '" + setting + "'", true);
  }
  return finish(edit, record);
}

RecordReport applyRecordValues(std::span<const FieldValue> values, ParameterBlock& record) {
  RecordEdit edit(record);
  for (const FieldValue& value : values) edit.assign(value, "value of '" + value.name + "'");
  return finish(edit, record);
}

std::string formatRecordText(const ParameterBlock& record) {
  std::string text;
  for (const RecordField& field : recordFields()) {
    text.append(field.name).append(" = ");
    text += formatFieldValue(fieldBits(record, field), field) + "\n";
  }
  return text;
}

RecordReport sanitiseReporting(ParameterBlock& record) {
  RecordEdit edit(record);
  return finish(edit, record);
}

}  // namespace vorlund
