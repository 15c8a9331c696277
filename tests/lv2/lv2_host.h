// A small LV2 host over lilv for the plugin's tests: loads the built bundle, instantiates a
// plugin with a URID map and a log that keeps its lines, holds a value for every control port
// and renders planar audio in blocks of any length, in place or not.
#pragma once

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund::test {

using Channels = std::vector<std::vector<float>>;

class Lv2World {
 public:
  Lv2World() : world_(lilv_world_new()) {
    LilvNode* bundle = lilv_new_file_uri(world_, nullptr, VORLUND_LV2_PATH "/vorlund.lv2/");
    lilv_world_load_bundle(world_, bundle);
    lilv_node_free(bundle);
  }
  ~Lv2World() { lilv_world_free(world_); }
  Lv2World(const Lv2World&) = delete;
  Lv2World& operator=(const Lv2World&) = delete;

  LilvWorld* world() const { return world_; }
  const LilvPlugin* plugin(std::string_view uri) const {
    LilvNode* node = lilv_new_uri(world_, std::string(uri).c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
    lilv_node_free(node);
    return found;
  }
  // A node the caller frees.
  LilvNode* uri(const char* text) const { return lilv_new_uri(world_, text); }

 private:
  LilvWorld* world_;
};

// The features a host hands over: URID map and unmap, and a log kept as text.
class HostFeatures {
 public:
  HostFeatures() {
    map_ = {this, [](LV2_URID_Map_Handle h, const char* uri) {
              return static_cast<HostFeatures*>(h)->map(uri);
            }};
    unmap_ = {this, [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
                auto* self = static_cast<HostFeatures*>(h);
                return urid >= 1 && urid <= self->uris_.size() ? self->uris_[urid - 1].c_str()
                                                               : nullptr;
              }};
    log_ = {this, &HostFeatures::logPrintf, &HostFeatures::logVprintf};
    features_ = {{LV2_URID__map, &map_}, {LV2_URID__unmap, &unmap_}, {LV2_LOG__log, &log_}};
    pointers_ = {&features_[0], &features_[1], &features_[2], nullptr};
  }
  HostFeatures(const HostFeatures&) = delete;
  HostFeatures& operator=(const HostFeatures&) = delete;

  const LV2_Feature* const* features() const { return pointers_.data(); }
  LV2_URID_Map* map() { return &map_; }
  LV2_URID_Unmap* unmap() { return &unmap_; }
  const std::string& log() const { return logText_; }

 private:
  LV2_URID map(const char* uri) {
    const auto at = std::find(uris_.begin(), uris_.end(), uri);
    if (at != uris_.end()) return static_cast<LV2_URID>(at - uris_.begin() + 1);
    uris_.emplace_back(uri);
    return static_cast<LV2_URID>(uris_.size());
  }
  static int logVprintf(LV2_Log_Handle h, LV2_URID, const char* format, va_list arguments) {
    char text[1024];
    const int n = std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<HostFeatures*>(h)->logText_ += text;
    return n;
  }
  static int logPrintf(LV2_Log_Handle h, LV2_URID type, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int n = logVprintf(h, type, format, arguments);
    va_end(arguments);
    return n;
  }

  std::vector<std::string> uris_;
  std::string logText_;
  LV2_URID_Map map_{};
  LV2_URID_Unmap unmap_{};
  LV2_Log_Log log_{};
  std::vector<LV2_Feature> features_;
  std::vector<const LV2_Feature*> pointers_;
};

class PluginInstance {
 public:
  PluginInstance(const Lv2World& world, const LilvPlugin* plugin, double rate)
      : world_(world), plugin_(plugin) {
    const std::uint32_t count = lilv_plugin_get_num_ports(plugin);
    values_.assign(count, 0.0f);
    std::vector<float> defaults(count, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    LilvNode* audio = world.uri(LILV_URI_AUDIO_PORT);
    LilvNode* input = world.uri(LILV_URI_INPUT_PORT);
    for (std::uint32_t i = 0; i < count; ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
      if (lilv_port_is_a(plugin, port, audio)) {
        (lilv_port_is_a(plugin, port, input) ? audioIn_ : audioOut_).push_back(i);
      } else {
        values_[i] = defaults[i];
      }
    }
    lilv_node_free(audio);
    lilv_node_free(input);
    instance_ = lilv_plugin_instantiate(plugin, rate, features_.features());
    if (instance_ == nullptr) return;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (std::find(audioIn_.begin(), audioIn_.end(), i) == audioIn_.end() &&
          std::find(audioOut_.begin(), audioOut_.end(), i) == audioOut_.end())
        lilv_instance_connect_port(instance_, i, &values_[i]);
    }
  }
  ~PluginInstance() {
    if (instance_ != nullptr) {
      if (active_) lilv_instance_deactivate(instance_);
      lilv_instance_free(instance_);
    }
  }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  LilvInstance* instance() const { return instance_; }
  const std::string& log() const { return features_.log(); }
  void activate() {
    lilv_instance_activate(instance_);
    active_ = true;
  }

  std::uint32_t index(const char* symbol) const {
    LilvNode* node = lilv_new_string(world_.world(), symbol);
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin_, node);
    lilv_node_free(node);
    EXPECT_NE(nullptr, port) << symbol;
    return port != nullptr ? lilv_port_get_index(plugin_, port) : 0;
  }
  float& value(const char* symbol) { return values_[index(symbol)]; }
  float& valueAt(std::uint32_t port) { return values_[port]; }
  const std::vector<std::uint32_t>& audioInputs() const { return audioIn_; }
  const std::vector<std::uint32_t>& audioOutputs() const { return audioOut_; }

  // Runs `in` (one vector per input channel) in blocks of `block` frames; in place runs the
  // plugin on the input buffers themselves.
  Channels render(Channels in, std::size_t block, bool inPlace = false) {
    const std::size_t frames = in.front().size();
    Channels out(audioOut_.size(), std::vector<float>(frames));
    for (std::size_t at = 0; at < frames; at += block) {
      const std::size_t n = std::min(block, frames - at);
      for (std::size_t c = 0; c < audioIn_.size(); ++c)
        lilv_instance_connect_port(instance_, audioIn_[c], in[c].data() + at);
      for (std::size_t c = 0; c < audioOut_.size(); ++c)
        lilv_instance_connect_port(instance_, audioOut_[c],
                                   (inPlace ? in[c].data() : out[c].data()) + at);
      lilv_instance_run(instance_, static_cast<std::uint32_t>(n));
    }
    return inPlace ? in : out;
  }

  // The plugin's state, and a state put back; port values go through values_.
  LilvState* saveState() {
    return lilv_state_new_from_instance(plugin_, instance_, features_.map(), nullptr, nullptr,
                                        nullptr, nullptr, &PluginInstance::portValue, this, 0,
                                        features_.features());
  }
  void restoreState(const LilvState* state, bool withPortValues) {
    lilv_state_restore(state, instance_, withPortValues ? &PluginInstance::setPortValue : nullptr,
                       this, 0, features_.features());
  }
  LV2_URID_Map* map() { return features_.map(); }
  LV2_URID_Unmap* unmap() { return features_.unmap(); }

 private:
  static const void* portValue(const char* symbol, void* self, uint32_t* size, uint32_t* type) {
    auto* host = static_cast<PluginInstance*>(self);
    *size = sizeof(float);
    *type = host->features_.map()->map(host->features_.map()->handle, LV2_ATOM__Float);
    return &host->value(symbol);
  }
  static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                           uint32_t) {
    if (size == sizeof(float))
      static_cast<PluginInstance*>(self)->value(symbol) = *static_cast<const float*>(value);
  }

  const Lv2World& world_;
  const LilvPlugin* plugin_;
  HostFeatures features_;
  std::vector<float> values_;
  std::vector<std::uint32_t> audioIn_;
  std::vector<std::uint32_t> audioOut_;
  LilvInstance* instance_ = nullptr;
  bool active_ = false;
};

}  // namespace vorlund::test
