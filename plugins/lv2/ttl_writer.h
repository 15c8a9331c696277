// Writes the bundle's Turtle from the field table, the meter table and the shipped presets:
// manifest.ttl (the two plugins and their presets), vorlund.ttl (every port) and
// presets.ttl (each presets/*.vrl record as the port values of an LV2 preset). The build runs
// it, so the bundle always describes the record the plugin was built with.
#pragma once

#include <string>
#include <vector>

#include "common/preset_library.h"
#include "port_layout.h"

namespace vorlund::lv2 {

struct BundlePreset {
  PresetInfo info;
  ParameterBlock record;
};

// The file name of the plugin library inside the bundle.
inline constexpr const char* kBinaryName = "vorlund.so";

std::string manifestTtl(const std::vector<BundlePreset>& presets);
std::string pluginTtl();
std::string presetsTtl(const std::vector<BundlePreset>& presets);

// The URI of a preset of one plugin ("urn:vorlund:lv2:voice#preset-podcast").
std::string presetUri(PluginKind kind, const std::string& name);

}  // namespace vorlund::lv2
