// One instance of the LV2 plugin: the voice chain the effect runs, fed by the host's audio
// ports and driven by the record its control ports describe, or, when the follow port is on
// and the data folder is there, by the record in the shared block, where it then publishes
// its meters as the effect does. The LV2 entry points (voice_plugin_entry.cpp) forward here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chain/voice_chain.h"
#include "channel/parameter_channel.h"
#include "engine/block_frame.h"
#include "engine/bypass_fade.h"
#include "engine/parameter_block.h"
#include "engine/record_follower.h"
#include "engine/shared_block.h"
#include "port_layout.h"

namespace vorlund::lv2 {

class VoicePlugin {
 public:
  // Instantiation thread; may allocate, block and log. Opens the data folder when it exists.
  // Null, with `message` saying why, for a rate the chain refuses; otherwise `message` is
  // empty or a note for the host's log (no data folder to follow).
  static std::unique_ptr<VoicePlugin> create(PluginKind kind, double sampleRate,
                                             std::string& message);
  ~VoicePlugin();
  VoicePlugin(const VoicePlugin&) = delete;
  VoicePlugin& operator=(const VoicePlugin&) = delete;

  // Any thread the host connects from; null disconnects (the port's default then applies).
  void connectPort(std::uint32_t port, void* data) noexcept;
  // Instantiation thread: clears the signal state. A host that runs without activating gets
  // the state instantiate prepared.
  void activate() noexcept;
  // Instantiation thread: a following instance leaves the shared block's stream count.
  void deactivate() noexcept;
  // Audio thread; never allocates, locks, waits or logs. Any count, in-place buffers allowed.
  void run(std::uint32_t count) noexcept;

  // Instantiation thread: the record in force, and a record to put in force (sanitised)
  // until a record port moves. False when the bytes are not a record.
  const ParameterBlock& record() const noexcept { return chain_.record(); }
  bool restoreRecord(const void* bytes, std::size_t size) noexcept;

  // Whether the data folder's shared block is open for following.
  bool canFollow() const noexcept { return channel_.isShared(); }

 private:
  VoicePlugin(PluginKind kind, double sampleRate);

  void takeRecordPorts() noexcept;
  void foldInput(float* mono, std::uint32_t count) const noexcept;
  void writeMeters(float processingLoad) noexcept;

  PluginKind kind_;
  PortLayout layout_;
  double sampleRate_;
  VoiceChain chain_;
  BypassFade bypass_;
  ParameterChannel channel_;
  // Ports; unconnected control inputs read their defaults from `defaults_`, unconnected
  // outputs write to `sink_`.
  std::vector<float*> ports_;
  std::vector<float> defaults_;
  std::vector<float> sink_;
  // The record ports as last applied; a change of any applies them all.
  std::vector<float> appliedPorts_;
  bool portsPending_ = true;
  bool following_ = false;
  float lastRelearn_ = 0.0f;
  RecordFollower follower_;
  ParameterBlock staging_{};
  // The meters as the shared block would hold them, for the output ports.
  SharedBlock meterBlock_{};
  float processingLoad_ = 0.0f;
  std::int64_t counterFrequency_ = 0;
};

}  // namespace vorlund::lv2
