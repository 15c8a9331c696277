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

// Reads preset `name` from `folder` into `record`; an unknown name is an error that suggests
// the nearest preset and lists them all.
RecordReport loadPreset(const std::filesystem::path& folder, std::string_view name,
                        ParameterBlock& record);

}  // namespace vorlund
