// vorlund-lv2-ttl OUT_DIR PRESETS_DIR: writes the bundle's manifest.ttl, vorlund.ttl and
// presets.ttl into OUT_DIR. Run by the build; a preset that does not read fails the build.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "ttl_writer.h"

namespace {

bool writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  std::cerr << "vorlund-lv2-ttl: cannot write " << path.string() << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vorlund;
  if (argc != 3) {
    std::cerr << "usage: vorlund-lv2-ttl OUT_DIR PRESETS_DIR\n";
    return 1;
  }
  const std::filesystem::path out = argv[1];
  std::vector<lv2::BundlePreset> presets;
  for (const PresetInfo& info : listPresets(argv[2])) {
    lv2::BundlePreset preset{info, {}};
    const RecordReport report = loadPreset(argv[2], info.name, preset.record);
    for (const std::string& line : report.errors)
      std::cerr << "vorlund-lv2-ttl: " << info.path.string() << ": " << line << "\n";
    if (!report.ok()) return 1;
    presets.push_back(std::move(preset));
  }
  std::error_code error;
  std::filesystem::create_directories(out, error);
  const bool written = writeFile(out / "manifest.ttl", lv2::manifestTtl(presets)) &&
                       writeFile(out / "vorlund.ttl", lv2::pluginTtl()) &&
                       writeFile(out / "presets.ttl", lv2::presetsTtl(presets));
  return written ? 0 : 1;
}
