// JSON text for the tools' machine-readable output: objects, arrays, escaped strings, numbers
// and literals, indented for people or on one line for a stream of records (one per line).
// Non-finite numbers have no JSON form and are written as null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

class JsonWriter {
 public:
  enum class Layout { indented, oneLine };

  explicit JsonWriter(Layout layout = Layout::indented) : layout_(layout) {}

  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  // The name of the next value inside an object.
  JsonWriter& key(std::string_view name);

  JsonWriter& string(std::string_view text);
  // The shortest decimal that reads back to the same float.
  JsonWriter& number(float value);
  JsonWriter& integer(std::int64_t value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();

  // The text so far; complete once every object and array is closed.
  const std::string& text() const { return text_; }

 private:
  void beginValue();
  void open(char bracket);
  void close(char bracket);
  void newLine();

  struct Level {
    bool empty = true;
  };
  std::string text_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
  Layout layout_;
};

}  // namespace vorlund
