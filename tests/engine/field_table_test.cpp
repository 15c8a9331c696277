#include "engine/field_table.h"
#include "record_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace vorlund {
namespace {

// The value sanitise() leaves in a field that held `value`, all other fields at defaults.
float sanitised(const RecordField& field, float value) {
  ParameterBlock record = test::defaultRecord();
  setFieldBits(record, field, numberBits(value, field.kind));
  sanitise(record);
  return fieldNumber(fieldBits(record, field), field.kind);
}

// Verifies that the table's default, range and choices of every field are what setDefaults
// and sanitise actually do, so the tools, the docs and the plugin ports describe the record
// the effect applies: flags become 0 or 1, every choice leaves as one of its values, numbers
// keep their range with NaN and infinities at its bounds, and 0 (a zeroed record) takes the
// bound nearest to it.
TEST(FieldTableTest, DefaultsRangesAndChoicesMatchTheRecordRules) {
  ParameterBlock factory = test::defaultRecord();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  for (const RecordField& field : recordFields()) {
    SCOPED_TRACE(std::string(field.name));
    EXPECT_FALSE(field.meaning.empty());
    EXPECT_TRUE(!field.label.empty() && field.label.size() <= 24) << field.label;
    EXPECT_EQ(field.defaultValue, fieldNumber(fieldBits(factory, field), field.kind));
    if (field.kind == FieldKind::Flag) {
      EXPECT_EQ(1.0f, sanitised(field, 2));
      EXPECT_EQ(1.0f, sanitised(field, -1));
      EXPECT_EQ(0.0f, sanitised(field, 0));
      continue;
    }
    if (!field.labels.empty()) {
      for (const FieldLabel& label : field.labels)
        EXPECT_EQ(label.value, sanitised(field, label.value));
      EXPECT_EQ(field.labels.front().value, sanitised(field, 0));
      // Whatever comes in leaves as one of the choices.
      for (float value : {-1e6f, -1.0f, 0.0f, 3.0f, 55.5f, 1e6f}) {
        EXPECT_FALSE(labelName(field, sanitised(field, value)).empty()) << value;
      }
      continue;
    }
    EXPECT_EQ(field.minimum, sanitised(field, field.minimum));
    EXPECT_EQ(field.maximum, sanitised(field, field.maximum));
    EXPECT_EQ(field.minimum, sanitised(field, field.minimum - 1));
    EXPECT_EQ(field.maximum, sanitised(field, field.maximum + 1));
    EXPECT_EQ(std::clamp(0.0f, field.minimum, field.maximum), sanitised(field, 0));
    if (field.kind == FieldKind::Float) {
      EXPECT_EQ(field.minimum, sanitised(field, -kInf));
      EXPECT_EQ(field.minimum, sanitised(field, std::numeric_limits<float>::quiet_NaN()));
      EXPECT_EQ(field.maximum, sanitised(field, kInf));
      const float middle = (field.minimum + field.maximum) / 2;
      EXPECT_EQ(middle, sanitised(field, middle));
    }
  }
}

// Verifies that names, labels and stages resolve as a user types them.
TEST(FieldTableTest, NamesAndLabelsResolve) {
  const RecordField* type = findRecordField("eqBands[9].type");
  ASSERT_NE(nullptr, type);
  EXPECT_EQ(offsetof(ParameterBlock, eqBands) + 9 * sizeof(EqBand) + 4, type->offset);
  EXPECT_EQ(std::optional<float>(0), labelValue(*type, "PEAKING"));
  EXPECT_EQ(std::optional<float>(2), labelValue(*type, "highshelf"));
  EXPECT_FALSE(labelValue(*type, "shelf"));
  EXPECT_EQ("bandPass", labelName(*type, 6));
  EXPECT_EQ("Band 10 width (Q)", findRecordField("eqBands[9].q")->label);
  EXPECT_EQ("Band 1 gain", findRecordField("eqBands[0].gainDb")->label);
  EXPECT_EQ(nullptr, findRecordField("eqBands[10].type"));
  EXPECT_EQ(nullptr, findRecordField("magic"));
  const RecordField* mains = findRecordField("humBaseHz");
  ASSERT_NE(nullptr, mains);
  EXPECT_EQ(std::optional<float>(60), labelValue(*mains, "60hz"));
  EXPECT_EQ(FieldStage::cleanUp, mains->stage);
}

}  // namespace
}  // namespace vorlund
