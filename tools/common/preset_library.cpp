#include "common/preset_library.h"

#include <algorithm>
#include <fstream>

#include "common/nearest_name.h"
#include "common/record_file.h"
#include "platform/environment.h"

namespace vorlund {
namespace fs = std::filesystem;
namespace {

std::string firstLineDescription(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  if (!line.starts_with('#')) return {};
  const std::size_t first = line.find_first_not_of("# \t");
  const std::size_t last = line.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

fs::path presetPath(const fs::path& folder, std::string_view name) {
  fs::path path = folder / std::string(name);
  path += kPresetExtension;
  return path;
}

}  // namespace

bool isPresetName(std::string_view name) noexcept {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

fs::path userPresetsFolder() {
  const Path settings = userSettingsFolder();
  if (!settings.valid()) return {};
  return toFilesystemPath(settings) / "Vorlund" / "presets";
}

RecordReport saveUserPreset(const fs::path& folder, std::string_view name,
                            std::string_view description, const ParameterBlock& record) {
  RecordReport report;
  if (!isPresetName(name)) {
    report.errors.push_back("a preset name takes letters, digits, '-' and '_' only");
    return report;
  }
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    report.errors.push_back(displayPath(folder) + ": " + error.message());
    return report;
  }
  return writeRecordFile(presetPath(folder, name), record, RecordFileFormat::Text, description);
}

bool deleteUserPreset(const fs::path& folder, std::string_view name, std::string& error) {
  const std::optional<fs::path> path = findPreset(folder, name);
  if (!path) {
    error = "no user preset '" + std::string(name) + "'";
    return false;
  }
  std::error_code removeError;
  if (!fs::remove(*path, removeError)) {
    error = displayPath(*path) + ": " + removeError.message();
    return false;
  }
  return true;
}

std::vector<PresetInfo> listPresets(const fs::path& folder) {
  std::vector<PresetInfo> presets;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const fs::path& path = entry.path();
    const std::string name = displayPath(path.stem());
    if (path.extension() != kPresetExtension || !isPresetName(name)) continue;
    if (!entry.is_regular_file(error)) continue;
    presets.push_back({name, firstLineDescription(path), path});
  }
  std::sort(presets.begin(), presets.end(),
            [](const PresetInfo& a, const PresetInfo& b) { return a.name < b.name; });
  return presets;
}

std::optional<fs::path> findPreset(const fs::path& folder, std::string_view name) {
  if (!isPresetName(name)) return std::nullopt;
  const fs::path path = presetPath(folder, name);
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  return path;
}

RecordReport loadPreset(const fs::path& folder, std::string_view name, ParameterBlock& record) {
  if (const std::optional<fs::path> path = findPreset(folder, name)) {
    return readRecordFile(*path, record);
  }
  std::vector<std::string> names;
  for (const PresetInfo& preset : listPresets(folder)) names.push_back(preset.name);
  RecordReport report;
  if (names.empty()) {
    report.errors.push_back("no presets in " + displayPath(folder));
    return report;
  }
  std::string available;
  for (const std::string& known : names) available += (available.empty() ? "" : ", ") + known;
  report.errors.push_back("unknown preset '" + std::string(name) + "'; did you mean '" +
                          nearestName(name, names) + "'? (available: " + available + ")");
  return report;
}

}  // namespace vorlund
