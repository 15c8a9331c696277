// Layer: record
#include "engine/parameter_block.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/field_table.h"

namespace vorlund {
namespace {

constexpr char kMagicText[4] = {'V', 'R', 'L', 'D'};

void writeHeader(ParameterBlock& r) {
  std::memcpy(r.magic, kMagicText, sizeof kMagicText);
  r.version = ParameterBlock::kVersion;
  r.size = ParameterBlock::kSize;
}

// A subnormal value counts as 0, tested on its bits: the real-time thread compares with
// denormals-are-zero in force and other threads without, and one record must sanitise alike
// on both (a positive subnormal would otherwise pass an upper bound of 0 there).
void flushSubnormal(float& value) {
  constexpr std::uint32_t kExponentBits = 0x7F800000u;
  constexpr std::uint32_t kFractionBits = 0x007FFFFFu;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & kExponentBits) == 0 && (bits & kFractionBits) != 0) value = 0.0f;
}

// NaN and values below the range take the lower bound; the comparison stays in float.
void clamp(float& value, float lower, float upper) {
  flushSubnormal(value);
  if (!(value >= lower)) {
    value = lower;
  } else if (value > upper) {
    value = upper;
  }
}

void clamp(std::int32_t& value, std::int32_t lower, std::int32_t upper) {
  if (value < lower) {
    value = lower;
  } else if (value > upper) {
    value = upper;
  }
}

// A flag becomes 0 or 1; a number is clamped to the field's range (a choice's to its first and
// last value).
void clampToRange(ParameterBlock& r, const RecordField& field) {
  const std::uint32_t bits = fieldBits(r, field);
  if (field.kind == FieldKind::Float) {
    float value = std::bit_cast<float>(bits);
    clamp(value, field.minimum, field.maximum);
    setFieldBits(r, field, std::bit_cast<std::uint32_t>(value));
    return;
  }
  std::int32_t value = std::bit_cast<std::int32_t>(bits);
  if (field.kind == FieldKind::Flag) {
    value = value != 0 ? 1 : 0;
  } else {
    clamp(value, static_cast<std::int32_t>(field.minimum),
          static_cast<std::int32_t>(field.maximum));
  }
  setFieldBits(r, field, std::bit_cast<std::uint32_t>(value));
}

// The high-pass is of order 2 or 4: anything from 4 up is 4, anything else 2.
void snapHighPassOrder(std::int32_t& order) {
  order = order >= 4 ? 4 : 2;
}

// The mains run at 50 or 60 Hz: above the middle is 60.
void snapMainsFrequency(float& hz) {
  hz = hz > 55.0f ? 60.0f : 50.0f;
}

}  // namespace

void setDefaults(ParameterBlock& r) noexcept {
  std::memset(&r, 0, sizeof r);
  writeHeader(r);
  for (const RecordField& field : recordFields()) {
    setFieldBits(r, field,
                 field.kind == FieldKind::Float
                     ? std::bit_cast<std::uint32_t>(field.defaultValue)
                     : std::bit_cast<std::uint32_t>(static_cast<std::int32_t>(field.defaultValue)));
  }
}

// Each field into the field table's range, then the rules of its own that a range cannot say.
void sanitise(ParameterBlock& r) noexcept {
  writeHeader(r);
  for (const RecordField& field : recordFields()) clampToRange(r, field);
  snapHighPassOrder(r.highPassOrder);
  snapMainsFrequency(r.humBaseHz);
}

bool isAcceptableFileRecord(const ParameterBlock& r, std::size_t bytesRead) noexcept {
  return bytesRead == ParameterBlock::kSize &&
         std::memcmp(r.magic, kMagicText, sizeof kMagicText) == 0 &&
         r.size == ParameterBlock::kSize;
}

}  // namespace vorlund
