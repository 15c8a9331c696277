#include "common/record_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "common/record_fields.h"
#include "record_helpers.h"

namespace vorlund {
namespace {

using ::testing::HasSubstr;

// A record with every field random within or beyond its range, then sanitised: values at the
// bounds, inside them, negative zeros and denormals where the range allows them.
ParameterBlock randomSanitisedRecord(std::mt19937& random) {
  ParameterBlock r = test::defaultRecord();
  std::uniform_int_distribution<std::uint32_t> anyBits;
  std::uniform_real_distribution<float> wide(-25000.0f, 25000.0f);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_int_distribution<int> pick(0, 3);
  for (const RecordField& field : recordFields()) {
    std::uint32_t bits = anyBits(random);
    if (field.kind == FieldKind::Float) {
      const int choice = pick(random);
      if (choice == 0) bits = std::bit_cast<std::uint32_t>(wide(random));
      if (choice == 1) bits = std::bit_cast<std::uint32_t>(unit(random));
      if (choice == 2) bits &= 0x800000FFu;  // denormals and signed zeros
    } else if (field.kind == FieldKind::Int && pick(random) != 0) {
      bits = static_cast<std::uint32_t>(pick(random) * 3 - 1);
    }
    setFieldBits(r, field, bits);
  }
  sanitise(r);
  return r;
}

// Verifies that the table lists every user field once: its 4-byte fields tile the record
// from the first field after the header up to the reserved tail, without gap or overlap.
TEST(RecordFieldsTest, TableTilesTheRecordBetweenHeaderAndReserved) {
  std::size_t expected = offsetof(ParameterBlock, bypass);
  for (const RecordField& field : recordFields()) {
    SCOPED_TRACE(field.name);
    EXPECT_EQ(expected, field.offset);
    EXPECT_EQ(&field, findRecordField(field.name));
    expected += 4;
  }
  EXPECT_EQ(offsetof(ParameterBlock, reserved), expected);
}

// Verifies that each field's kind matches how sanitise treats its bytes: flags turn 2 into 1;
// floats send NaN and -inf to the same value; ints send the bit patterns of NaN (a large
// positive int) and -inf (a negative int) to different bounds.
TEST(RecordFieldsTest, KindsMatchTheSanitisingRules) {
  const auto sanitised = [](const RecordField& field, std::uint32_t bits) {
    ParameterBlock r = test::defaultRecord();
    setFieldBits(r, field, bits);
    sanitise(r);
    return fieldBits(r, field);
  };
  const std::uint32_t nan = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN());
  const std::uint32_t minusInf =
      std::bit_cast<std::uint32_t>(-std::numeric_limits<float>::infinity());
  for (const RecordField& field : recordFields()) {
    SCOPED_TRACE(field.name);
    const bool actsAsFlag = sanitised(field, 2) == 1;
    const bool actsAsFloat = !actsAsFlag && sanitised(field, nan) == sanitised(field, minusInf);
    EXPECT_EQ(field.kind == FieldKind::Flag, actsAsFlag);
    EXPECT_EQ(field.kind == FieldKind::Float, actsAsFloat);
  }
}

// Verifies that formatting any sanitised record and parsing the text gives back every byte of
// it (the reserved tail, which text does not carry, aside), with no warnings.
TEST(RecordTextTest, RandomRecordsRoundTripBitForBit) {
  std::mt19937 random(2024);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    ParameterBlock original = randomSanitisedRecord(random);
    std::memset(original.reserved, 0, sizeof original.reserved);
    const std::string text = formatRecordText(original);
    ParameterBlock parsed;
    std::memset(&parsed, 0xA5, sizeof parsed);
    const RecordReport report = parseRecordText(text, parsed);
    ASSERT_TRUE(report.ok()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty());
    ASSERT_EQ(0, std::memcmp(&original, &parsed, sizeof parsed)) << text;
  }
}

// Verifies the accepted syntax: comments, blank lines, CRLF, a byte-order mark, the spellings
// of flags, signs, and that names reach the intended field (band index included) while
// unnamed fields keep their defaults.
TEST(RecordTextTest, ReadsTheAcceptedSyntaxIntoTheRightFields) {
  const std::string text =
      "\xEF\xBB\xBF# a whole-line comment\r\n"
      "\n"
      "   mute = ON   # trailing comment\r\n"
      "bypass=true\n"
      "eqEnabled = Off\n"
      "eqBands[3].gainDb = -4.5\n"
      "eqBands[9].type = +6\n"
      "eqBands[2].type = HighShelf\n"
      "effectMode = echo\n"
      "humBaseHz = 60hz\n"
      "eqBands[9].enabled = 1\n"
      "inputGainDb = +2.25\n"
      "limiterCeilingDb = -3\n"
      "compRatio = 1e1";  // no final newline
  ParameterBlock r;
  const RecordReport report = parseRecordText(text, r);
  ASSERT_TRUE(report.ok()) << report.errors.front();
  EXPECT_TRUE(report.warnings.empty());
  ParameterBlock expected = test::defaultRecord();
  expected.mute = 1;
  expected.bypass = 1;
  expected.eqEnabled = 0;
  expected.eqBands[3].gainDb = -4.5f;
  expected.eqBands[9].type = 6;
  expected.eqBands[2].type = 2;
  expected.effectMode = 5;
  expected.humBaseHz = 60.0f;
  expected.eqBands[9].enabled = 1;
  expected.inputGainDb = 2.25f;
  expected.limiterCeilingDb = -3.0f;
  expected.compRatio = 10.0f;
  EXPECT_EQ(0, std::memcmp(&expected, &r, sizeof r));
  // Choices are written back by their labels, and read back the same.
  const std::string written = formatRecordText(r);
  EXPECT_NE(std::string::npos, written.find("eqBands[2].type = highShelf\n"));
  EXPECT_NE(std::string::npos, written.find("effectMode = echo\n"));
  ParameterBlock reread;
  ASSERT_TRUE(parseRecordText(written, reread).ok());
  EXPECT_EQ(0, std::memcmp(&reread, &r, sizeof r));
}

// Verifies that a text is refused, and the record left untouched, for each line it cannot
// read: unknown names (with the nearest valid name), header names, values of the wrong form
// for each kind, a line without '=', and a name given twice; every error gives its line.
// A text that is not a record at all stops after a bounded number of errors.
TEST(RecordTextTest, RefusalsGiveLineNumbersAndNearestNames) {
  const std::pair<const char*, const char*> lines[] = {
      {"compRatio = 4", nullptr},
      {"# comment", nullptr},
      {"compRatoi = 4", "line 3: unknown name 'compRatoi'; did you mean 'compRatio'?"},
      {"eqBands[3].gain = 1",
       "line 4: unknown name 'eqBands[3].gain'; did you mean "
       "'eqBands[3].gainDb'?"},
      {"NSENABLED = 1", "line 5: unknown name 'NSENABLED'; did you mean 'nsEnabled'?"},
      {"eqBands[10].q = 1", "line 6: unknown name 'eqBands[10].q'"},
      {"version = 2", "line 7: 'version' belongs to the record header"},
      {"bypass = maybe", "line 8: bypass: 'maybe' is not a flag"},
      {"mute = 2", "line 9: mute: '2' is not a flag"},
      {"highPassOrder = 4.5", "line 10: highPassOrder: '4.5' is not a whole number"},
      {"humHarmonics = 0x10", "line 11: humHarmonics: '0x10' is not a whole number"},
      {"compKneeDb = 1,5", "line 12: compKneeDb: '1,5' is not a number"},
      {"compAttackMs = +-1", "line 13: compAttackMs: '+-1' is not a number"},
      {"agcSpeed = 0.5 0.6", "line 14: agcSpeed: '0.5 0.6' is not a number"},
      {"compReleaseMs =", "line 15: compReleaseMs has no value"},
      {"limiterEnabled 1", "line 16: expected 'name = value'"},
      {"= 3", "line 17: missing name"},
      {"compRatio = 5", "line 18: compRatio is already set on line 1"},
  };
  std::string text;
  std::vector<const char*> expected;
  for (auto [line, error] : lines) {
    text += std::string(line) + "\n";
    if (error != nullptr) expected.push_back(error);
  }
  ParameterBlock r;
  std::memset(&r, 0x5A, sizeof r);
  const ParameterBlock before = r;
  const RecordReport report = parseRecordText(text, r);
  ASSERT_EQ(expected.size(), report.errors.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_THAT(report.errors[i], HasSubstr(expected[i]));
  }
  EXPECT_EQ(0, std::memcmp(&before, &r, sizeof r));

  std::string garbage;
  for (int i = 0; i < 1000; ++i) garbage += "lorem ipsum\n";
  EXPECT_LE(parseRecordText(garbage, r).errors.size(), 30u);
}

// Verifies that values outside their ranges are taken, sanitised and reported with the value
// as written: out-of-range numbers, NaN, infinities, huge and tiny decimals, and ints beyond
// 32 bits. Values inside their ranges raise no warning.
TEST(RecordTextTest, ClampingIsReportedNotRefused) {
  const std::string text =
      "compRatio = 50\n"
      "highPassOrder = 3\n"
      "nsStrength = nan\n"
      "outputGainDb = inf\n"
      "agcMaxGainDb = -Infinity\n"
      "compThresholdDb = 1e50\n"
      "gateHoldMs = -1e-50\n"
      "effectMode = 99999999999\n"
      "humHarmonics = -99999999999\n"
      "toneAir = 1\n";
  ParameterBlock r;
  const RecordReport report = parseRecordText(text, r);
  ASSERT_TRUE(report.ok()) << report.errors.front();
  const std::vector<std::string> expected = {
      "line 1: compRatio = 50 clamped to 20",
      "line 2: highPassOrder = 3 clamped to 2",
      "line 3: nsStrength = nan clamped to 0",
      "line 4: outputGainDb = inf clamped to 20",
      "line 5: agcMaxGainDb = -Infinity clamped to 0",
      "line 6: compThresholdDb = 1e50 clamped to 0",
      "line 8: effectMode = 99999999999 clamped to 6",
      "line 9: humHarmonics = -99999999999 clamped to 1",
  };
  EXPECT_EQ(expected, report.warnings);  // "clamped to" shows the value the record now holds
  EXPECT_EQ(6, r.effectMode);
  EXPECT_EQ(1.0f, r.toneAir);
  // -1e-50 rounds to -0, which lies inside 0..1000 and is kept as it is.
  EXPECT_EQ(std::bit_cast<std::uint32_t>(-0.0f), std::bit_cast<std::uint32_t>(r.gateHoldMs));
}

// Verifies that settings apply over a given record, report clamping led by the setting, and
// that a bad setting refuses them all: an unknown name, no '=', a name given twice, and a
// value that is not a finite number (clamped when read from a file, refused when typed).
TEST(RecordTextTest, SettingsOverrideWithTheSameChecks) {
  ParameterBlock r = test::defaultRecord();
  r.compRatio = 7.0f;
  r.effectMode = 4;
  const std::vector<std::string> settings = {" bypass = on ", "effectMode=5", "compRatio=50"};
  const RecordReport report = applyRecordSettings(settings, r);
  ASSERT_TRUE(report.ok()) << report.errors.front();
  EXPECT_EQ(std::vector<std::string>{"setting 'compRatio=50': compRatio = 50 clamped to 20"},
            report.warnings);
  EXPECT_EQ(5, r.effectMode);
  EXPECT_EQ(1, r.bypass);
  EXPECT_EQ(20.0f, r.compRatio);

  const ParameterBlock before = r;
  const std::vector<std::string> bad = {"mute=1",         "compRatoi=2",     "bypass",
                                        "mute=0",         "inputGainDb=nan", "outputGainDb=-inf",
                                        "compRatio=1e50", "gateHoldMs=5"};
  const RecordReport refused = applyRecordSettings(bad, r);
  ASSERT_EQ(6u, refused.errors.size());
  EXPECT_THAT(refused.errors[0], HasSubstr("setting 'compRatoi=2': unknown name"));
  EXPECT_THAT(refused.errors[0], HasSubstr("'compRatio'"));
  EXPECT_THAT(refused.errors[1], HasSubstr("setting 'bypass': expected 'name = value'"));
  EXPECT_THAT(refused.errors[2], HasSubstr("mute is already set on setting 'mute=1'"));
  for (std::size_t i = 3; i < 6; ++i) EXPECT_THAT(refused.errors[i], HasSubstr("not a finite"));
  EXPECT_EQ(0, std::memcmp(&before, &r, sizeof r));
}

// Verifies that typed values (as the panel sends them) follow the same rules without going
// through text: a switch takes a boolean, a choice its label, numbers clamp with a warning;
// a number for a choice must be whole, a switch takes no 2, a text is no number, and a float
// beyond the float range is refused; one bad value refuses them all.
TEST(RecordTextTest, TypedValuesFollowTheSameRules) {
  ParameterBlock r = test::defaultRecord();
  const std::vector<FieldValue> values = {
      {"bypass", true}, {"eqBands[0].type", std::string("lowShelf")}, {"compRatio", 50.0}};
  const RecordReport report = applyRecordValues(values, r);
  ASSERT_TRUE(report.ok()) << report.errors.front();
  EXPECT_EQ(1, r.bypass);
  EXPECT_EQ(1, r.eqBands[0].type);
  EXPECT_EQ(std::vector<std::string>{"value of 'compRatio': compRatio = 50 clamped to 20"},
            report.warnings);

  const ParameterBlock before = r;
  const std::vector<FieldValue> bad = {{"effectMode", 1.5},
                                       {"mute", 2.0},
                                       {"outputGainDb", std::string("3")},
                                       {"inputGainDb", 1e300},
                                       {"gateHoldMs", 5.0}};
  const RecordReport refused = applyRecordValues(bad, r);
  ASSERT_EQ(4u, refused.errors.size());
  EXPECT_THAT(refused.errors[0], HasSubstr("effectMode: '1.5' is not a whole number"));
  EXPECT_THAT(refused.errors[2], HasSubstr("outputGainDb: '3' is not a number"));
  EXPECT_EQ(0, std::memcmp(&before, &r, sizeof r));
}

}  // namespace
}  // namespace vorlund
