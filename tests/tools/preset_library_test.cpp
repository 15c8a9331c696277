#include "common/preset_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/record_file.h"
#include "record_helpers.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

using ::testing::HasSubstr;

const std::filesystem::path kPresets = VORLUND_PRESETS_DIR;

// Verifies that every shipped preset has a description and loads with neither errors nor
// clamping, that the default preset is exactly the factory record, and that every other one
// changes something (a preset that silently equals the default is broken).
TEST(PresetLibraryTest, EveryShippedPresetLoadsCleanly) {
  const std::vector<PresetInfo> presets = listPresets(kPresets);
  std::vector<std::string> names;
  for (const PresetInfo& preset : presets) names.push_back(preset.name);
  for (const char* expected : {"default", "podcast", "meeting", "streaming-fan", "robot", "radio",
                               "telephone", "deep-voice", "hall", "echo"}) {
    EXPECT_THAT(names, ::testing::Contains(expected));
  }

  ParameterBlock factory = test::defaultRecord();
  for (const PresetInfo& preset : presets) {
    SCOPED_TRACE(preset.name);
    EXPECT_GT(preset.description.size(), 10u);
    ParameterBlock record;
    const RecordReport report = loadPreset(kPresets, preset.name, record);
    ASSERT_TRUE(report.ok()) << report.errors.front();
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    const bool isFactory = std::memcmp(&record, &factory, sizeof record) == 0;
    EXPECT_EQ(preset.name == "default", isFactory);
  }
}

// Verifies that presets are found by name only inside the folder, and that an unknown name
// suggests the nearest preset.
TEST(PresetLibraryTest, FindsByNameAndSuggestsOnTypos) {
  const std::optional<std::filesystem::path> found = findPreset(kPresets, "podcast");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ("podcast.vrl", found->filename());
  EXPECT_FALSE(findPreset(kPresets, "../presets/podcast").has_value());
  EXPECT_FALSE(findPreset(kPresets, "").has_value());
  EXPECT_FALSE(findPreset(kPresets / "absent", "podcast").has_value());

  ParameterBlock record;
  const RecordReport typo = loadPreset(kPresets, "podcats", record);
  ASSERT_EQ(1u, typo.errors.size());
  EXPECT_THAT(typo.errors[0], HasSubstr("unknown preset 'podcats'; did you mean 'podcast'?"));
  EXPECT_THAT(typo.errors[0], HasSubstr("telephone"));
  EXPECT_FALSE(loadPreset(kPresets / "absent", "podcast", record).ok());
}

// A user preset saved into a folder that does not exist yet is listed with its description,
// loads back bit for bit, and is gone after deleting; names that could leave the folder are
// refused for both, and nothing is written outside it.
TEST(PresetLibraryTest, UserPresetsSaveLoadAndDeleteInTheirFolder) {
  test::TempDataFolder temp(false);
  const std::filesystem::path folder = temp.programData() / "config" / "Vorlund" / "presets";
  const PresetCatalog before(std::nullopt, folder);
  ParameterBlock record = test::defaultRecord();
  record.outputGainDb = 7.5f;
  record.eqBands[4].type = 2;
  ASSERT_TRUE(before.save("mine", record, "loud and clear").ok());
  const PresetCatalog after(std::nullopt, folder);
  const PresetInfo* mine = after.find("mine");
  ASSERT_NE(nullptr, mine);
  EXPECT_EQ(PresetOrigin::user, mine->origin);
  EXPECT_EQ("loud and clear", mine->description);
  ParameterBlock loaded;
  ASSERT_TRUE(after.load("mine", loaded).ok());
  EXPECT_EQ(0, std::memcmp(&record, &loaded, sizeof record));

  // Windows device names too, which no file may have there, whatever this system allows.
  for (const char* bad : {"../escape", "a/b", "", "x.vrl", "CON", "nul.txt", "COM1", "lpt9", "Aux",
                          "name.", "name "}) {
    EXPECT_FALSE(after.save(bad, record, "no").ok()) << bad;
    EXPECT_FALSE(after.remove(bad).ok()) << bad;
  }
  EXPECT_THAT(after.save("COM1", record, "no").errors.front(), HasSubstr("device on Windows"));
  EXPECT_TRUE(after.save("COM10", record, "a name like any other").ok());
  EXPECT_FALSE(std::filesystem::exists(folder.parent_path() / "escape.vrl"));

  EXPECT_TRUE(after.remove("mine").ok());
  EXPECT_EQ(nullptr, PresetCatalog(std::nullopt, folder).find("mine"));
  EXPECT_FALSE(PresetCatalog(std::nullopt, folder).remove("mine").ok());
}

}  // namespace
}  // namespace vorlund
