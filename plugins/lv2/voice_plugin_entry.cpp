// The LV2 face of the plugin: the two descriptors, the state extension (the whole record as
// one chunk) and the host's log. Everything else is VoicePlugin's.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "channel/diagnostic_log.h"
#include "voice_plugin.h"

namespace vorlund::lv2 {
namespace {

struct Instance {
  std::unique_ptr<VoicePlugin> plugin;
  LV2_URID recordKey = 0;
  LV2_URID chunkType = 0;
};

const LV2_Feature* findFeature(const LV2_Feature* const* features, const char* uri) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::strcmp((*features)->URI, uri) == 0) return *features;
  }
  return nullptr;
}

// Instantiation thread: a line for the host's log, or the diagnostic log without one.
void report(const LV2_Feature* const* features, LV2_URID_Map* map, bool error,
            const std::string& message) {
  const LV2_Feature* logFeature = findFeature(features, LV2_LOG__log);
  if (logFeature != nullptr && map != nullptr) {
    auto* log = static_cast<LV2_Log_Log*>(logFeature->data);
    const LV2_URID type = map->map(map->handle, error ? LV2_LOG__Error : LV2_LOG__Note);
    log->printf(log->handle, type, "%s\n", message.c_str());
    return;
  }
  logLine("LV2: %s", message.c_str());
}

LV2_Handle instantiate(PluginKind kind, double rate, const LV2_Feature* const* features) {
  const LV2_Feature* mapFeature = findFeature(features, LV2_URID__map);
  auto* map = mapFeature != nullptr ? static_cast<LV2_URID_Map*>(mapFeature->data) : nullptr;
  try {
    auto instance = std::make_unique<Instance>();
    std::string message;
    instance->plugin = VoicePlugin::create(kind, rate, message);
    if (!message.empty()) report(features, map, instance->plugin == nullptr, message);
    if (instance->plugin == nullptr) return nullptr;
    if (map != nullptr) {
      instance->recordKey = map->map(map->handle, std::string(kRecordStateUri).c_str());
      instance->chunkType = map->map(map->handle, LV2_ATOM__Chunk);
    }
    return instance.release();
  } catch (const std::exception& error) {
    report(features, map, true, std::string("vorlund: cannot instantiate: ") + error.what());
    return nullptr;
  }
}

LV2_Handle instantiateMono(const LV2_Descriptor*, double rate, const char*,
                           const LV2_Feature* const* features) {
  return instantiate(PluginKind::mono, rate, features);
}

LV2_Handle instantiateStereo(const LV2_Descriptor*, double rate, const char*,
                             const LV2_Feature* const* features) {
  return instantiate(PluginKind::stereo, rate, features);
}

VoicePlugin& pluginOf(LV2_Handle handle) {
  return *static_cast<Instance*>(handle)->plugin;
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  pluginOf(handle).connectPort(port, data);
}

void activate(LV2_Handle handle) {
  pluginOf(handle).activate();
}

void run(LV2_Handle handle, uint32_t count) {
  pluginOf(handle).run(count);
}

void deactivate(LV2_Handle handle) {
  pluginOf(handle).deactivate();
}

void cleanup(LV2_Handle handle) {
  delete static_cast<Instance*>(handle);
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                      uint32_t, const LV2_Feature* const*) {
  const Instance& instance = *static_cast<Instance*>(handle);
  if (instance.recordKey == 0) return LV2_STATE_ERR_NO_FEATURE;
  const ParameterBlock& record = instance.plugin->record();
  return store(state, instance.recordKey, &record, sizeof record, instance.chunkType,
               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, uint32_t, const LV2_Feature* const*) {
  Instance& instance = *static_cast<Instance*>(handle);
  if (instance.recordKey == 0) return LV2_STATE_ERR_NO_FEATURE;
  std::size_t size = 0;
  std::uint32_t type = 0;
  std::uint32_t flags = 0;
  const void* bytes = retrieve(state, instance.recordKey, &size, &type, &flags);
  if (bytes == nullptr) return LV2_STATE_ERR_NO_PROPERTY;
  if (type != instance.chunkType) return LV2_STATE_ERR_BAD_TYPE;
  return instance.plugin->restoreRecord(bytes, size) ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

const void* extensionData(const char* uri) {
  static const LV2_State_Interface kState = {save, restore};
  return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kState : nullptr;
}

// The URIs are string literals, so their data() ends in a zero.
const LV2_Descriptor kDescriptors[] = {
    {kMonoUri.data(), instantiateMono, connectPort, activate, run, deactivate, cleanup,
     extensionData},
    {kStereoUri.data(), instantiateStereo, connectPort, activate, run, deactivate, cleanup,
     extensionData},
};

}  // namespace
}  // namespace vorlund::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < 2 ? &vorlund::lv2::kDescriptors[index] : nullptr;
}
