#include "common/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vorlund {

void JsonWriter::newLine() {
  if (layout_ == Layout::oneLine) return;
  text_ += '\n';
  text_.append(2 * levels_.size(), ' ');
}

// Separates the value from the one before it; a value after its key follows directly.
void JsonWriter::beginValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (!levels_.back().empty) text_ += layout_ == Layout::oneLine ? ", " : ",";
  levels_.back().empty = false;
  newLine();
}

void JsonWriter::open(char bracket) {
  beginValue();
  text_ += bracket;
  levels_.push_back({});
}

void JsonWriter::close(char bracket) {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) newLine();
  text_ += bracket;
}

JsonWriter& JsonWriter::beginObject() {
  open('{');
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  close('}');
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  open('[');
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  string(name);
  text_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view value) {
  beginValue();
  text_ += '"';
  for (char c : value) {
    switch (c) {
      case '"':
        text_ += "\\\"";
        break;
      case '\\':
        text_ += "\\\\";
        break;
      case '\n':
        text_ += "\\n";
        break;
      case '\r':
        text_ += "\\r";
        break;
      case '\t':
        text_ += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          text_ += escape;
        } else {
          text_ += c;  // UTF-8 passes as it is
        }
    }
  }
  text_ += '"';
  return *this;
}

JsonWriter& JsonWriter::number(float value) {
  if (!std::isfinite(value)) return null();
  beginValue();
  std::array<char, 32> digits;
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  text_.append(digits.data(), result.ptr);
  return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
  beginValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  beginValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  beginValue();
  text_ += "null";
  return *this;
}

}  // namespace vorlund
