// Named parameter records shipped as text files, "<name>.vrl", in a presets folder. The first
// line of each is "# " and a one-line description. The tools look in the folder next to their
// executable and in the source tree, so the folder is always a parameter here.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/record_text.h"
#include "engine/parameter_block.h"

namespace vorlund {

inline constexpr std::string_view kPresetExtension = ".vrl";

struct PresetInfo {
  std::string name;         // file name without the extension
  std::string description;  // first line without its "# "
  std::filesystem::path path;
};

// The presets in `folder`, sorted by name; none when the folder is missing.
std::vector<PresetInfo> listPresets(const std::filesystem::path& folder);

// The file of preset `name` in `folder`, if there is one. Names are letters, digits, '-' and
// '_' only, so a name never reaches outside the folder.
std::optional<std::filesystem::path> findPreset(const std::filesystem::path& folder,
                                                std::string_view name);

// Letters, digits, '-' and '_' only.
bool isPresetName(std::string_view name) noexcept;

// The per-user presets folder, listed beside the shipped ones: "Vorlund/presets" in the
// user's settings folder (%APPDATA%, or $XDG_CONFIG_HOME or ~/.config). Empty when the
// system names none. It may not exist yet.
std::filesystem::path userPresetsFolder();

// Writes `record` as preset `name` in `folder` (created when missing) with `description` as
// its first line, replacing a preset of that name there.
RecordReport saveUserPreset(const std::filesystem::path& folder, std::string_view name,
                            std::string_view description, const ParameterBlock& record);

// Removes preset `name` from `folder`; false with `error` when there is none or it stays.
bool deleteUserPreset(const std::filesystem::path& folder, std::string_view name,
                      std::string& error);

// Reads preset `name` from `folder` into `record`; an unknown name is an error that suggests
// the nearest preset and lists them all.
RecordReport loadPreset(const std::filesystem::path& folder, std::string_view name,
                        ParameterBlock& record);

}  // namespace vorlund
