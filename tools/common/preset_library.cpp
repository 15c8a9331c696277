#include "common/preset_library.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "common/nearest_name.h"
#include "common/record_file.h"
#include "platform/environment.h"
#include "platform/platform.h"

namespace vorlund {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kCommandWords[] = {"save", "delete"};

std::string descriptionOf(std::string_view firstLine) {
  if (!firstLine.starts_with('#')) return {};
  const std::size_t first = firstLine.find_first_not_of("# \t");
  const std::size_t last = firstLine.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string()
                                    : std::string(firstLine.substr(first, last - first + 1));
}

std::string firstLineDescription(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  return descriptionOf(line);
}

RecordReport failure(std::string message) {
  RecordReport report;
  report.errors.push_back(std::move(message));
  return report;
}

RecordReport unknownPreset(std::string_view name, const std::vector<PresetInfo>& presets,
                           const std::string& where) {
  if (presets.empty()) return failure("no presets in " + where);
  std::vector<std::string> names;
  std::string available;
  for (const PresetInfo& preset : presets) {
    names.push_back(preset.name);
    available += (available.empty() ? "" : ", ") + preset.name;
  }
  return failure("unknown preset '" + std::string(name) + "'; did you mean '" +
                 nearestName(name, names) + "'? (available: " + available + ")");
}

// A path from the environment: `text` with %NAME% expanded, or none when a variable is unset.
std::optional<fs::path> expanded(std::string_view text) {
  Path out;
  if (expandEnvironmentStrings(text, out) == 0 || !out.valid()) return std::nullopt;
  const fs::path path = toFilesystemPath(out);
  if (displayPath(path).find('%') != std::string::npos || path.empty()) return std::nullopt;
  return path;
}

}  // namespace

bool isWindowsDeviceName(std::string_view name) noexcept {
  // The part before the first dot counts: "nul.txt" is the device NUL too.
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '0' && base[3] <= '9';
}

bool isPresetName(std::string_view name) noexcept {
  return !name.empty() && !isWindowsDeviceName(name) &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

std::vector<PresetInfo> listPresets(const fs::path& folder) {
  std::vector<PresetInfo> presets;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const fs::path& path = entry.path();
    const std::string name = displayPath(path.stem());
    if (path.extension() != kPresetExtension || !isPresetName(name)) continue;
    if (!entry.is_regular_file(error)) continue;
    presets.push_back({name, firstLineDescription(path), path, PresetOrigin::shipped, {}});
  }
  std::sort(presets.begin(), presets.end(),
            [](const PresetInfo& a, const PresetInfo& b) { return a.name < b.name; });
  return presets;
}

std::optional<fs::path> findPreset(const fs::path& folder, std::string_view name) {
  if (!isPresetName(name)) return std::nullopt;
  fs::path path = folder / std::string(name);
  path += kPresetExtension;
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  return path;
}

RecordReport loadPreset(const fs::path& folder, std::string_view name, ParameterBlock& record) {
  if (const std::optional<fs::path> path = findPreset(folder, name)) {
    return readRecordFile(*path, record);
  }
  return unknownPreset(name, listPresets(folder), displayPath(folder));
}

std::optional<fs::path> userPresetsFolder() {
  if (VORLUND_WINDOWS) return expanded("%APPDATA%\\Vorlund\\presets");
  if (const std::optional<fs::path> config = expanded("%XDG_CONFIG_HOME%");
      config && config->is_absolute())
    return *config / "vorlund" / "presets";
  if (const std::optional<fs::path> home = expanded("%HOME%"))
    return *home / ".config" / "vorlund" / "presets";
  return std::nullopt;
}

PresetCatalog::PresetCatalog(const std::optional<fs::path>& shippedFolder,
                             std::optional<fs::path> userFolder)
    : userFolder_(std::move(userFolder)) {
  if (shippedFolder) {
    presets_ = listPresets(*shippedFolder);
  } else {
    for (const ShippedPreset& shipped : shippedPresets())
      presets_.push_back({std::string(shipped.name),
                          descriptionOf(shipped.text.substr(0, shipped.text.find('\n'))),
                          {},
                          PresetOrigin::shipped,
                          shipped.text});
  }
  if (!userFolder_) return;
  const std::size_t shippedCount = presets_.size();
  for (PresetInfo& user : listPresets(*userFolder_)) {
    const auto end = presets_.begin() + static_cast<std::ptrdiff_t>(shippedCount);
    if (std::any_of(presets_.begin(), end,
                    [&](const PresetInfo& shipped) { return shipped.name == user.name; }))
      continue;
    user.origin = PresetOrigin::user;
    presets_.push_back(std::move(user));
  }
  std::sort(presets_.begin(), presets_.end(),
            [](const PresetInfo& a, const PresetInfo& b) { return a.name < b.name; });
}

const PresetInfo* PresetCatalog::find(std::string_view name) const {
  for (const PresetInfo& preset : presets_)
    if (preset.name == name) return &preset;
  return nullptr;
}

RecordReport PresetCatalog::load(std::string_view name, ParameterBlock& record) const {
  const PresetInfo* preset = find(name);
  if (preset == nullptr) return unknownPreset(name, presets_, "the shipped or your folder");
  if (!preset->path.empty()) return readRecordFile(preset->path, record);
  RecordReport report = parseRecordText(preset->text, record);
  for (std::string& message : report.errors) message = "preset " + preset->name + ": " + message;
  for (std::string& message : report.warnings) message = "preset " + preset->name + ": " + message;
  return report;
}

std::optional<std::string> PresetCatalog::nameRefusal(std::string_view name) const {
  std::string quoted = "'";
  quoted.append(name).append("'");
  if (isWindowsDeviceName(name))
    return quoted + " names a device on Windows, where no file may have it; choose another name";
  if (!isPresetName(name)) return "a preset name is letters, digits, '-' and '_', not " + quoted;
  if (std::find(std::begin(kCommandWords), std::end(kCommandWords), name) !=
      std::end(kCommandWords))
    return quoted + " is a command word, not a preset name";
  if (const PresetInfo* existing = find(name);
      existing && existing->origin == PresetOrigin::shipped)
    return quoted + " is a shipped preset; choose another name";
  return std::nullopt;
}

RecordReport PresetCatalog::save(std::string_view name, const ParameterBlock& record,
                                 std::string_view description) const {
  if (std::optional<std::string> refusal = nameRefusal(name)) return failure(std::move(*refusal));
  if (!userFolder_)
    return failure("no folder for your presets (neither APPDATA, XDG_CONFIG_HOME nor HOME is set)");
  std::error_code error;
  fs::create_directories(*userFolder_, error);
  if (error) return failure("cannot create " + displayPath(*userFolder_) + ": " + error.message());
  fs::path path = *userFolder_ / std::string(name);
  path += kPresetExtension;
  return writeFileReplacing(path,
                            "# " + std::string(description) + "\n" + formatRecordText(record));
}

RecordReport PresetCatalog::remove(std::string_view name) const {
  const PresetInfo* preset = find(name);
  if (preset == nullptr) return unknownPreset(name, presets_, "the shipped or your folder");
  if (preset->origin == PresetOrigin::shipped)
    return failure("'" + preset->name + "' is a shipped preset and cannot be deleted");
  std::error_code error;
  if (!fs::remove(preset->path, error) || error)
    return failure("cannot delete " + displayPath(preset->path) + ": " +
                   (error ? error.message() : "it is gone"));
  return {};
}

PresetCatalog toolPresets(const std::optional<std::string>& presetsDir) {
  std::optional<fs::path> shipped;
  if (presetsDir) shipped = pathFromUtf8(*presetsDir);
  return PresetCatalog(shipped, userPresetsFolder());
}

}  // namespace vorlund
