#include "pipewire_microphone.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "channel/diagnostic_log.h"
#include "platform/file.h"

namespace vorlund {
namespace {

// The capture's format leaves the channels open, so PipeWire offers the input's own layout
// (every channel, as the device has them); the source is mono, as the effect's output is.
const spa_pod* captureFormat(spa_pod_builder& builder) {
  return static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_audio), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_AUDIO_format, SPA_POD_Id(SPA_AUDIO_FORMAT_F32), SPA_FORMAT_AUDIO_rate,
      SPA_POD_Int(PipeWireMicrophone::kRate)));
}

const spa_pod* sourceFormat(spa_pod_builder& builder) {
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.rate = PipeWireMicrophone::kRate;
  info.channels = 1;
  info.position[0] = SPA_AUDIO_CHANNEL_MONO;
  return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

void quitOnSignal(void* loop, int) {
  pw_main_loop_quit(static_cast<pw_main_loop*>(loop));
}

void reportState(const char* which, pw_stream_state state, const char* error) {
  if (state == PW_STREAM_STATE_ERROR)
    std::fprintf(stderr, "vorlund-mic: the %s stream failed: %s\n", which,
                 error != nullptr ? error : "no reason given");
}

const pw_stream_events kCaptureEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void*, pw_stream_state, pw_stream_state state, const char* error) {
    reportState("capture", state, error);
  };
  return events;
}();

const pw_stream_events kSourceEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void*, pw_stream_state, pw_stream_state state, const char* error) {
    reportState("source", state, error);
  };
  return events;
}();

}  // namespace

PipeWireMicrophone::PipeWireMicrophone(std::string& note) {
  note.clear();
  const Path folder = dataFolder();
  std::uint64_t size = 0;
  if (queryFileSize(folder, size)) {
    frame_.channel().open();
  } else {
    note = "no data folder at " + folder.toUtf8() +
           "; the microphone runs the default record and vorlund-ctl cannot reach it";
  }
  FrameFormat format;
  format.sampleRate = static_cast<float>(kRate);
  format.channels = 1;
  format.maxFrames = kMaxFrames;
  frame_.start(format);
  mono_.assign(kMaxFrames, 0.0f);
  bypass_.prepare(format.sampleRate, frame_.latencySamples());
  if (SharedBlock* block = frame_.channel().activeBlock())
    publishStreamStart(*block, format.sampleRate, format.channels, latencySamples());
}

PipeWireMicrophone::~PipeWireMicrophone() {
  frame_.stop();
  if (SharedBlock* block = frame_.channel().activeBlock()) publishStreamEnd(*block);
  frame_.channel().close();
}

std::uint32_t PipeWireMicrophone::latencySamples() const noexcept {
  return static_cast<std::uint32_t>(std::max(frame_.latencySamples(), 0));
}

bool PipeWireMicrophone::run(std::string& error) {
  pw_init(nullptr, nullptr);
  loop_ = pw_main_loop_new(nullptr);
  if (loop_ == nullptr) {
    error = "cannot make a PipeWire loop";
    return false;
  }
  pw_loop* loop = pw_main_loop_get_loop(loop_);
  pw_loop_add_signal(loop, SIGINT, quitOnSignal, loop_);
  pw_loop_add_signal(loop, SIGTERM, quitOnSignal, loop_);

  // One group for both nodes, so that they run in the same cycle; one link group, so that the
  // session manager never links the microphone to its own input.
  char group[64];
  std::snprintf(group, sizeof group, "vorlund-microphone-%d", static_cast<int>(getpid()));

  // Passive: the input is opened only while someone records from the microphone.
  pw_properties* captureProps = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
      "Communication", PW_KEY_NODE_NAME, "vorlund_microphone.capture", PW_KEY_NODE_DESCRIPTION,
      "Vorlund microphone input", PW_KEY_NODE_PASSIVE, "true", PW_KEY_NODE_GROUP, group,
      PW_KEY_NODE_LINK_GROUP, group, PW_KEY_APP_NAME, "vorlund-mic", nullptr);
  pw_properties* sourceProps = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CLASS, "Audio/Source", PW_KEY_NODE_NAME,
      "vorlund_microphone", PW_KEY_NODE_DESCRIPTION, "Vorlund microphone", PW_KEY_MEDIA_NAME,
      "Vorlund microphone", PW_KEY_NODE_GROUP, group, PW_KEY_NODE_LINK_GROUP, group,
      PW_KEY_APP_NAME, "vorlund-mic", nullptr);

  static const pw_stream_events captureEvents = [] {
    pw_stream_events events = kCaptureEvents;
    events.process = onCaptureProcess;
    events.param_changed = onCaptureParamChanged;
    return events;
  }();
  static const pw_stream_events sourceEvents = [] {
    pw_stream_events events = kSourceEvents;
    events.process = onSourceProcess;
    return events;
  }();
  // One connection for both streams, so that both process in its one real-time data thread.
  context_ =
      pw_context_new(loop, pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
  core_ = context_ != nullptr ? pw_context_connect(context_, nullptr, 0) : nullptr;
  if (core_ != nullptr) {
    capture_ = pw_stream_new(core_, "Vorlund microphone input", captureProps);
    source_ = pw_stream_new(core_, "Vorlund microphone", sourceProps);
  } else {
    pw_properties_free(captureProps);
    pw_properties_free(sourceProps);
  }
  bool ok = capture_ != nullptr && source_ != nullptr;
  if (ok) {
    pw_stream_add_listener(capture_, &captureListener_, &captureEvents, this);
    pw_stream_add_listener(source_, &sourceListener_, &sourceEvents, this);
  }
  if (ok) {
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    // Room for the input's blocks to wait while this client is late, so that none is lost:
    // the chain takes every waiting block in order.
    const spa_pod* captureParams[] = {
        captureFormat(builder),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(kCaptureBuffers, 2, kCaptureBuffers)))};
    // The source carries the chain's delay: as its own processing latency, and on its port,
    // so that pw-dump and latency-aware clients see it.
    const spa_pod* sourceParams[3] = {sourceFormat(builder), nullptr, nullptr};
    spa_latency_info portLatency = SPA_LATENCY_INFO(SPA_DIRECTION_OUTPUT);
    portLatency.min_rate = portLatency.max_rate = latencySamples();
    sourceParams[1] = spa_latency_build(&builder, SPA_PARAM_Latency, &portLatency);
    spa_process_latency_info processLatency{};
    processLatency.rate = static_cast<std::int32_t>(latencySamples());
    sourceParams[2] =
        spa_process_latency_build(&builder, SPA_PARAM_ProcessLatency, &processLatency);
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    ok = pw_stream_connect(capture_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, captureParams, 2) >= 0 &&
         pw_stream_connect(source_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                           static_cast<pw_stream_flags>(flags | PW_STREAM_FLAG_TRIGGER),
                           sourceParams, 3) >= 0;
    if (ok) pw_stream_update_params(source_, sourceParams + 1, 2);
  }
  if (!ok) {
    error = "cannot reach PipeWire (is it running for this user?)";
  } else {
    pw_main_loop_run(loop_);
  }
  if (capture_ != nullptr) pw_stream_destroy(capture_);
  if (source_ != nullptr) pw_stream_destroy(source_);
  capture_ = source_ = nullptr;
  if (core_ != nullptr) pw_core_disconnect(core_);
  if (context_ != nullptr) pw_context_destroy(context_);
  core_ = nullptr;
  context_ = nullptr;
  pw_main_loop_destroy(loop_);
  loop_ = nullptr;
  pw_deinit();
  return ok;
}

void PipeWireMicrophone::onCaptureParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  if (id != SPA_PARAM_Format) return;
  auto& self = *static_cast<PipeWireMicrophone*>(data);
  spa_audio_info_raw info{};
  std::uint32_t channels = 0;
  if (param != nullptr && spa_format_audio_raw_parse(param, &info) >= 0 &&
      info.format == SPA_AUDIO_FORMAT_F32 && info.channels <= kMaxChannels)
    channels = info.channels;
  self.channels_.store(channels);
}

// The capture has its input: the source runs now, in the same cycle.
void PipeWireMicrophone::onCaptureProcess(void* data) {
  pw_stream_trigger_process(static_cast<PipeWireMicrophone*>(data)->source_);
}

void PipeWireMicrophone::onSourceProcess(void* data) {
  static_cast<PipeWireMicrophone*>(data)->processCycle();
}

// Real-time thread, when the capture's process has triggered the source. Every input block
// goes through the chain exactly once and in order, so its state follows exactly what the
// input delivered: a cycle in which the capture's block is late gives an empty block, the next
// one both. What does not fit the source's buffer (its consumer fell behind) is dropped.
void PipeWireMicrophone::processCycle() noexcept {
  pw_buffer* out = pw_stream_dequeue_buffer(source_);
  float* target = nullptr;
  std::uint32_t room = 0;
  if (out != nullptr && out->buffer->datas[0].data != nullptr) {
    target = static_cast<float*>(out->buffer->datas[0].data);
    room = out->buffer->datas[0].maxsize / sizeof(float);
  }
  std::uint32_t written = 0;
  while (pw_buffer* in = pw_stream_dequeue_buffer(capture_)) {
    const spa_data& input = in->buffer->datas[0];
    const std::uint32_t channels = channels_.load(std::memory_order_relaxed);
    if (channels != 0 && input.data != nullptr && input.chunk != nullptr) {
      const std::uint32_t offset = std::min(input.chunk->offset, input.maxsize);
      const std::uint32_t size = std::min(input.chunk->size, input.maxsize - offset);
      const std::uint32_t frames =
          frame_.processToMono(static_cast<const float*>(SPA_PTROFF(input.data, offset, void)),
                               channels, size / (channels * sizeof(float)), mono_.data(), &bypass_);
      const std::uint32_t kept = std::min(frames, room - written);
      if (target != nullptr) std::copy(mono_.data(), mono_.data() + kept, target + written);
      written += kept;
    }
    pw_stream_queue_buffer(capture_, in);
  }
  if (out == nullptr) return;
  spa_chunk& chunk = *out->buffer->datas[0].chunk;
  chunk.offset = 0;
  chunk.stride = sizeof(float);
  chunk.size = written * sizeof(float);
  pw_stream_queue_buffer(source_, out);
}

}  // namespace vorlund
