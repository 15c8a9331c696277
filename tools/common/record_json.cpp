#include "common/record_json.h"

#include <bit>
#include <charconv>
#include <string_view>

#include "common/record_fields.h"

namespace vorlund {
namespace {

// "eqBands[3].gainDb" as its array, index and member; a plain name has no array.
struct FieldPath {
  std::string_view array;
  int index = -1;
  std::string_view member;
};

FieldPath splitName(std::string_view name) {
  const std::size_t open = name.find('[');
  const std::size_t close = name.find("].");
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return {{}, -1, name};
  FieldPath path{name.substr(0, open), 0, name.substr(close + 2)};
  std::from_chars(name.data() + open + 1, name.data() + close, path.index);
  return path;
}

void writeValue(JsonWriter& json, std::uint32_t bits, FieldKind kind) {
  switch (kind) {
    case FieldKind::Flag:
      json.boolean(bits != 0);
      return;
    case FieldKind::Int:
      json.integer(std::bit_cast<std::int32_t>(bits));
      return;
    case FieldKind::Float:
      json.number(std::bit_cast<float>(bits));
      return;
  }
}

}  // namespace

void writeRecordJson(JsonWriter& json, const ParameterBlock& record) {
  json.beginObject();
  // The array and element open at the moment; the table keeps each band's fields together.
  std::string_view array;
  int index = -1;
  const auto closeElement = [&] {
    if (index >= 0) json.endObject();
    index = -1;
  };
  for (const RecordField& field : recordFields()) {
    const FieldPath path = splitName(field.name);
    if (path.array != array) {
      closeElement();
      if (!array.empty()) json.endArray();
      array = path.array;
      if (!array.empty()) json.key(array).beginArray();
    }
    if (path.index != index) {
      closeElement();
      json.beginObject();
      index = path.index;
    }
    json.key(path.member);
    writeValue(json, fieldBits(record, field), field.kind);
  }
  closeElement();
  if (!array.empty()) json.endArray();
  json.endObject();
}

}  // namespace vorlund
