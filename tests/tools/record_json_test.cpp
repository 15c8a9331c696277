#include "common/record_json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>

#include "common/record_fields.h"
#include "record_helpers.h"
#include "tools/json_check.h"

namespace vorlund {
namespace {

using ::testing::HasSubstr;

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Verifies that a record's JSON is valid in both layouts, names every plain field of the
// table once and every band member once per band (ten band objects in one array), writes
// flags as booleans (any non-zero value is on), keeps each value exactly, and writes the
// non-finite values an unsanitised record may hold as null.
TEST(RecordJsonTest, EveryFieldOnceWithBandsInAnArray) {
  ParameterBlock record = test::defaultRecord();
  record.compRatio = 4.25f;
  record.eqBands[9].gainDb = -7.5f;
  record.eqBands[9].enabled = 5;
  record.gateEnabled = 1;
  record.inputGainDb = std::numeric_limits<float>::quiet_NaN();
  record.outputGainDb = -std::numeric_limits<float>::infinity();
  record.highPassOrder = -3;

  for (JsonWriter::Layout layout : {JsonWriter::Layout::indented, JsonWriter::Layout::oneLine}) {
    JsonWriter json(layout);
    writeRecordJson(json, record);
    const std::string text = json.text();
    ASSERT_TRUE(test::isValidJson(text)) << text;
    for (const RecordField& field : recordFields()) {
      const std::size_t dot = field.name.find("].");
      const std::string key(dot == std::string::npos ? field.name : field.name.substr(dot + 2));
      EXPECT_EQ(dot == std::string::npos ? 1u : 10u, occurrences(text, "\"" + key + "\": "))
          << field.name;
    }
    EXPECT_EQ(1u, occurrences(text, "\"eqBands\": ["));
    EXPECT_EQ(0u, occurrences(text, "magic"));
    EXPECT_THAT(text, HasSubstr("\"compRatio\": 4.25"));
    EXPECT_THAT(text, HasSubstr("\"gainDb\": -7.5"));
    EXPECT_THAT(text, HasSubstr("\"gateEnabled\": true"));
    EXPECT_THAT(text, HasSubstr("\"inputGainDb\": null"));
    EXPECT_THAT(text, HasSubstr("\"outputGainDb\": null"));
    EXPECT_THAT(text, HasSubstr("\"highPassOrder\": -3"));
    // The last band is on: its flag of 5 reads as true, right before its type.
    EXPECT_EQ(layout == JsonWriter::Layout::oneLine,
              text.find("{\"enabled\": true, \"type\": 0, \"freqHz\": 2500, \"gainDb\": -7.5") !=
                  std::string::npos);
  }
}

// Verifies that strings are escaped so that any text, quotes, backslashes and control
// characters included, stays valid JSON, and that empty containers close properly.
TEST(RecordJsonTest, WriterEscapesStringsAndClosesEmptyContainers) {
  JsonWriter json;
  json.beginObject();
  json.key("path").string("C:\\ProgramData\\\"Vorlund\"\n\t\x01 caf\xC3\xA9");
  json.key("empty").beginArray().endArray();
  json.key("nothing").beginObject().endObject();
  json.key("big").integer(-9007199254740993LL);
  json.endObject();
  EXPECT_TRUE(test::isValidJson(json.text())) << json.text();
  EXPECT_THAT(json.text(), HasSubstr(R"("C:\\ProgramData\\\"Vorlund\"\n\t\u0001 caf)"));
  EXPECT_THAT(json.text(), HasSubstr("\"empty\": []"));
  EXPECT_THAT(json.text(), HasSubstr("\"nothing\": {}"));
  EXPECT_THAT(json.text(), HasSubstr("-9007199254740993"));
}

}  // namespace
}  // namespace vorlund
