// Named parameter records in the text form, "<name>.vrl". The shipped presets are built into
// the tools (a presets folder given on the command line takes their place); the user's own
// live in a per-user folder and are listed with them. The first line of each is "# " and a
// one-line description.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/record_text.h"
#include "engine/parameter_block.h"

namespace vorlund {

inline constexpr std::string_view kPresetExtension = ".vrl";

enum class PresetOrigin { shipped, user };

struct PresetInfo {
  std::string name;            // file name without the extension
  std::string description;     // first line without its "# "
  std::filesystem::path path;  // empty for a preset built into the program
  PresetOrigin origin = PresetOrigin::shipped;
  std::string_view text;  // the text of a preset built into the program
};

// A shipped preset as built into the program from the presets folder.
struct ShippedPreset {
  std::string_view name;
  std::string_view text;
};
// Every shipped preset, sorted by name (generated at build time).
std::span<const ShippedPreset> shippedPresets();

// Letters, digits, '-' and '_' only: a name that never reaches outside its folder; and no
// Windows device name, so that a preset saved anywhere loads on Windows too.
bool isPresetName(std::string_view name) noexcept;
// CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, in any case, with or without an extension
// and trailing dots or spaces: names Windows gives to devices, in every folder.
bool isWindowsDeviceName(std::string_view name) noexcept;

// The presets in `folder`, sorted by name; none when the folder is missing.
std::vector<PresetInfo> listPresets(const std::filesystem::path& folder);

// The file of preset `name` in `folder`, if there is one. Names are letters, digits, '-' and
// '_' only, so a name never reaches outside the folder.
std::optional<std::filesystem::path> findPreset(const std::filesystem::path& folder,
                                                std::string_view name);

// Reads preset `name` from `folder` into `record`; an unknown name is an error that suggests
// the nearest preset and lists them all.
RecordReport loadPreset(const std::filesystem::path& folder, std::string_view name,
                        ParameterBlock& record);

// The user's presets folder: %APPDATA%\Vorlund\presets on Windows; elsewhere
// $XDG_CONFIG_HOME/vorlund/presets, else ~/.config/vorlund/presets. None when the variables
// it rests on are unset.
std::optional<std::filesystem::path> userPresetsFolder();

// The shipped presets and the user's, as one list.
class PresetCatalog {
 public:
  // The shipped presets from `shippedFolder`, or without one those built into the program;
  // the user's from `userFolder` when there is one. A user file with a shipped preset's name
  // is not listed: shipped names are reserved.
  PresetCatalog(const std::optional<std::filesystem::path>& shippedFolder,
                std::optional<std::filesystem::path> userFolder);

  // Sorted by name.
  const std::vector<PresetInfo>& presets() const noexcept { return presets_; }
  const PresetInfo* find(std::string_view name) const;
  // Reads preset `name` into `record`; an unknown name suggests the nearest one.
  RecordReport load(std::string_view name, ParameterBlock& record) const;

  // Writes `record` as the user's preset `name` (replacing one of that name), its first line
  // "# " `description`. Refuses a shipped name, a name that is not letters, digits, '-' and
  // '_', and the command words "save" and "delete"; creates the folder when needed.
  RecordReport save(std::string_view name, const ParameterBlock& record,
                    std::string_view description) const;
  // Why `name` cannot be saved as the user's preset, if it cannot (save's refusals of names).
  std::optional<std::string> nameRefusal(std::string_view name) const;
  // Deletes the user's preset `name`; a shipped or unknown name is an error.
  RecordReport remove(std::string_view name) const;

  const std::optional<std::filesystem::path>& userFolder() const noexcept { return userFolder_; }

 private:
  std::vector<PresetInfo> presets_;
  std::optional<std::filesystem::path> userFolder_;
};

// The catalog the tools use: the shipped presets from --presets-dir (UTF-8) when given, else
// those built in, and the user's presets folder.
PresetCatalog toolPresets(const std::optional<std::string>& presetsDir);

}  // namespace vorlund
