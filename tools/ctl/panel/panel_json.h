// The JSON the panel accepts in request bodies: a strict reader (RFC 8259 values, UTF-8
// passed through, \u escapes decoded) with limits on nesting and size, since every body comes
// from outside. The panel's own answers are written with JsonWriter.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

struct JsonValue {
  enum class Type { null, boolean, number, string, array, object };

  Type type = Type::null;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  // An array's values, or an object's in order with their names in `names` (side by side, as
  // a vector of pairs would need JsonValue complete here).
  std::vector<JsonValue> items;
  std::vector<std::string> names;

  // The member named `name` of an object, or null (also for other types).
  const JsonValue* member(std::string_view name) const noexcept;
};

inline constexpr int kMaxJsonDepth = 8;

// The value `text` holds, or none with `error` saying why ("at byte 12: expected ':'").
std::optional<JsonValue> parseJson(std::string_view text, std::string& error);

}  // namespace vorlund
