#include "voice_plugin.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "channel/diagnostic_log.h"
#include "engine/forced_vector_path.h"
#include "engine/meter_publisher.h"
#include "engine/stream_format.h"
#include "platform/denormal_guard.h"
#include "platform/file.h"
#include "platform/performance_counter.h"

namespace vorlund::lv2 {
namespace {

bool sameBits(float a, float b) noexcept {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace

std::unique_ptr<VoicePlugin> VoicePlugin::create(PluginKind kind, double sampleRate,
                                                 std::string& message) {
  message.clear();
  if (!isSupportedFrameRate(static_cast<float>(sampleRate))) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "vorlund: a sample rate of %g Hz is refused; the voice chain runs at %g to %g Hz",
                  sampleRate, static_cast<double>(kMinFrameRate),
                  static_cast<double>(kMaxFrameRate));
    message = text;
    return nullptr;
  }
  std::unique_ptr<VoicePlugin> plugin(new VoicePlugin(kind, sampleRate));
  const Path folder = dataFolder();
  std::uint64_t size = 0;
  if (queryFileSize(folder, size)) {
    plugin->channel_.open();
  } else {
    message = "vorlund: no data folder at " + folder.toUtf8() +
              "; following it is off, the record comes from the ports";
    logLine("LV2: no data folder at %s; following it is off, the record comes from the ports",
            folder.toUtf8().c_str());
  }
  return plugin;
}

VoicePlugin::VoicePlugin(PluginKind kind, double sampleRate)
    : kind_(kind), layout_(portLayout(kind)), sampleRate_(sampleRate) {
  applyForcedVectorPath();
  chain_.prepare(sampleRate);
  bypass_.prepare(sampleRate, chain_.latencySamples());
  ports_.assign(layout_.total, nullptr);
  defaults_.assign(layout_.total, 0.0f);
  sink_.assign(layout_.total, 0.0f);
  defaults_[layout_.control + kEnabledPort] = 1.0f;
  const std::span<const RecordField> fields = portFields();
  for (std::size_t i = 0; i < fields.size(); ++i)
    defaults_[layout_.field + i] = fields[i].defaultValue;
  for (std::uint32_t port = layout_.control; port < layout_.total; ++port)
    connectPort(port, nullptr);
  appliedPorts_.assign(fields.size() + 1, 0.0f);
  counterFrequency_ = performanceFrequency();
}

VoicePlugin::~VoicePlugin() {
  deactivate();
  channel_.close();
}

void VoicePlugin::connectPort(std::uint32_t port, void* data) noexcept {
  if (port >= layout_.total) return;
  const bool output = (port >= layout_.audioOut && port < layout_.control) ||
                      port == layout_.control + kLatencyPort ||
                      (port >= layout_.meter && port < layout_.field);
  if (data == nullptr && port >= layout_.control) {
    data = output ? &sink_[port] : &defaults_[port];
  }
  ports_[port] = static_cast<float*>(data);
}

void VoicePlugin::activate() noexcept {
  chain_.reset();
  bypass_.reset();
}

void VoicePlugin::deactivate() noexcept {
  if (following_) {
    if (SharedBlock* block = channel_.activeBlock()) publishStreamEnd(*block);
    following_ = false;
    portsPending_ = true;
  }
}

void VoicePlugin::run(std::uint32_t count) noexcept {
  const std::uint32_t channels = audioChannels(kind_);
  for (std::uint32_t c = 0; c < channels; ++c) {
    if (ports_[layout_.audioIn + c] == nullptr || ports_[layout_.audioOut + c] == nullptr) return;
  }
  DenormalGuard denormals;
  const std::int64_t t0 = performanceCounter();

  // Following starts and ends between blocks, as a stream of the effect would.
  SharedBlock* block = channel_.activeBlock();
  const bool follow = block != nullptr && *ports_[layout_.control + kFollowPort] >= 0.5f;
  if (follow != following_) {
    following_ = follow;
    if (follow) {
      follower_.start(block);
      publishStreamStart(*block, static_cast<float>(sampleRate_), channels,
                         chain_.latencySamples());
    } else {
      portsPending_ = true;
      if (block != nullptr) publishStreamEnd(*block);
    }
  }
  if (follow) {
    follower_.follow(*block, chain_);
  } else {
    takeRecordPorts();
  }
  const float relearn = *ports_[layout_.control + kRelearnPort];
  if (relearn >= 0.5f && !(lastRelearn_ >= 0.5f)) chain_.relearnNoise();
  lastRelearn_ = relearn;
  *ports_[layout_.control + kLatencyPort] = static_cast<float>(chain_.latencySamples());
  if (count == 0) return;

  float* mono = ports_[layout_.audioOut];
  foldInput(mono, count);
  // The chain runs while bypassed too, so that switching back finds it settled; the fade
  // around it does the bypass, latency kept.
  processWithFade(chain_, bypass_, mono, count);
  if (kind_ == PluginKind::stereo && ports_[layout_.audioOut + 1] != mono)
    std::copy(mono, mono + count, ports_[layout_.audioOut + 1]);

  const std::int64_t t1 = performanceCounter();
  processingLoad_ = BlockFrame::smoothLoad(processingLoad_, t1 - t0, counterFrequency_, count,
                                           static_cast<float>(sampleRate_));
  writeMeters(processingLoad_);
}

bool VoicePlugin::restoreRecord(const void* bytes, std::size_t size) noexcept {
  if (bytes == nullptr || size != sizeof(ParameterBlock)) return false;
  std::memcpy(&staging_, bytes, sizeof staging_);
  if (!isAcceptableFileRecord(staging_, size)) return false;
  sanitise(staging_);
  chain_.configure(staging_);
  // The restored record holds until a record port moves away from its present value.
  const std::span<const RecordField> fields = portFields();
  for (std::size_t i = 0; i < fields.size(); ++i) appliedPorts_[i] = *ports_[layout_.field + i];
  appliedPorts_.back() = *ports_[layout_.control + kEnabledPort];
  portsPending_ = false;
  return true;
}

// The record ports and the enabled port, applied together when any of them moved; every value
// goes through sanitise(), as a record from a control application would.
void VoicePlugin::takeRecordPorts() noexcept {
  const std::span<const RecordField> fields = portFields();
  bool changed = portsPending_;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const float value = *ports_[layout_.field + i];
    if (!sameBits(value, appliedPorts_[i])) changed = true;
    appliedPorts_[i] = value;
  }
  const float enabled = *ports_[layout_.control + kEnabledPort];
  if (!sameBits(enabled, appliedPorts_.back())) changed = true;
  appliedPorts_.back() = enabled;
  if (!changed) return;

  staging_ = chain_.record();
  for (std::size_t i = 0; i < fields.size(); ++i)
    setFieldBits(staging_, fields[i], numberBits(appliedPorts_[i], fields[i].kind));
  // lv2:enabled: 1 means processing, so the record's bypass is its inverse.
  staging_.bypass = enabled >= 0.5f ? 0 : 1;
  sanitise(staging_);
  chain_.configure(staging_);
  portsPending_ = false;
}

// The input as the effect folds it: mono as it stands, stereo as the mean of its channels,
// every sample limited. Reads each frame before writing it, so in-place buffers are fine.
void VoicePlugin::foldInput(float* mono, std::uint32_t count) const noexcept {
  const float* left = ports_[layout_.audioIn];
  if (kind_ == PluginKind::mono) {
    for (std::uint32_t k = 0; k < count; ++k) mono[k] = BlockFrame::limitSample(left[k]);
    return;
  }
  const float* right = ports_[layout_.audioIn + 1];
  constexpr float kHalf = 0.5f;
  for (std::uint32_t k = 0; k < count; ++k) {
    float sum = 0.0f;
    sum += left[k];
    sum += right[k];
    mono[k] = BlockFrame::limitSample(sum * kHalf);
  }
}

void VoicePlugin::writeMeters(float processingLoad) noexcept {
  const Bool32 bypass = chain_.record().bypass;
  publishMeters(meterBlock_, chain_.meters(), bypass, processingLoad);
  if (following_) {
    if (SharedBlock* block = channel_.activeBlock())
      publishMeters(*block, chain_.meters(), bypass, processingLoad);
  }
  for (std::size_t i = 0; i < kMeterFields.size(); ++i)
    *ports_[layout_.meter + i] = sharedWord(meterBlock_.*kMeterFields[i].member).load();
}

}  // namespace vorlund::lv2
