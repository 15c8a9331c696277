// The plugin as an LV2 host meets it, through lilv: its description against the field and
// meter tables, its output against vorlund-process's for the same input and record, block
// lengths, bypass and mute, presets, state, following the data folder, and faults.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "chain/voice_chain.h"
#include "channel/parameter_channel.h"
#include "common/preset_library.h"
#include "common/record_text.h"
#include "lv2_host.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "port_layout.h"
#include "record_helpers.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"
#include "vorlund_version.h"

namespace vorlund {
namespace {

namespace fs = std::filesystem;
using test::Channels;
using test::PluginInstance;

constexpr double kRate = 48000.0;
// vorlund-process's default block: 10 ms.
constexpr std::size_t kProcessBlock = 480;

// Two seconds of the shipped noisy speech, and a second channel of it at another level.
Channels speech(int channels) {
  SF_INFO info{};
  SNDFILE* file = sf_open(VORLUND_EXAMPLES_DIR "/noisy-voice.flac", SFM_READ, &info);
  EXPECT_NE(nullptr, file);
  std::vector<float> mono(static_cast<std::size_t>(2 * kRate));
  if (file != nullptr) {
    EXPECT_EQ(1, info.channels);
    sf_readf_float(file, mono.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(file);
  }
  Channels out(channels, mono);
  for (float& x : out.back()) x *= channels > 1 ? 0.5f : 1.0f;
  return out;
}

void writeWav(const fs::path& path, const Channels& in) {
  SF_INFO info{};
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  info.samplerate = static_cast<int>(kRate);
  info.channels = static_cast<int>(in.size());
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(nullptr, file);
  std::vector<float> interleaved;
  for (std::size_t k = 0; k < in.front().size(); ++k)
    for (const auto& channel : in) interleaved.push_back(channel[k]);
  sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(in.front().size()));
  sf_close(file);
}

Channels readWav(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(nullptr, file) << path;
  if (file == nullptr) return {};
  std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, interleaved.data(), info.frames);
  sf_close(file);
  Channels out(info.channels, std::vector<float>(static_cast<std::size_t>(info.frames)));
  for (std::size_t k = 0; k < out.front().size(); ++k)
    for (int c = 0; c < info.channels; ++c) out[c][k] = interleaved[k * info.channels + c];
  return out;
}

double rmsDb(const std::vector<float>& x, std::size_t from) {
  return test::toDb(test::rms(x, static_cast<int>(from)));
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  EXPECT_EQ(a.size(), b.size());
  float worst = 0.0f;
  for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k)
    worst = std::max(worst, std::fabs(a[k] - b[k]));
  return worst;
}

// Sample-for-sample equality, reported as the first differing sample and the largest error.
testing::AssertionResult sameSamples(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size())
    return testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
  const auto at = std::mismatch(a.begin(), a.end(), b.begin());
  if (at.first == a.end()) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "first difference at sample " << (at.first - a.begin()) << " (" << *at.first << " and "
         << *at.second << "), largest " << maxDifference(a, b);
}

class Lv2PluginTest : public ::testing::Test {
 protected:
  const LilvPlugin* mono() const { return world_.plugin(lv2::kMonoUri); }
  const LilvPlugin* stereo() const { return world_.plugin(lv2::kStereoUri); }

  std::unique_ptr<PluginInstance> instance(const LilvPlugin* plugin, double rate = kRate) {
    auto made = std::make_unique<PluginInstance>(world_, plugin, rate);
    if (made->instance() != nullptr) made->activate();
    return made;
  }

  // vorlund-process on `in` with extra arguments (a preset, settings); its output unaligned,
  // so it carries the same latency as the plugin's.
  Channels process(const Channels& in, std::vector<std::string> extra = {}) {
    const fs::path input = temp_.programData() / "in.wav";
    const fs::path output = temp_.programData() / "out.wav";
    writeWav(input, in);
    std::vector<std::string> arguments = {VORLUND_PROCESS, "--quiet", "--presets-dir",
                                          VORLUND_PRESETS_DIR};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(input.string());
    arguments.push_back(output.string());
    const Path log = Path::fromUtf8((temp_.programData() / "process.log").string());
    EXPECT_EQ(0, runProcess(arguments, log, log))
        << test::readBytes(temp_.programData() / "process.log");
    return readWav(output);
  }

  test::TempDataFolder temp_{false};
  test::Lv2World world_;
};

// Verifies that a host sees every record field as a control input with the table's range,
// default and kind, every meter as an output, the designated enabled and latency ports, and
// every shipped preset for both plugins.
TEST_F(Lv2PluginTest, DescriptionFollowsTheTables) {
  LilvNode* toggled = world_.uri(LV2_CORE__toggled);
  LilvNode* integer = world_.uri(LV2_CORE__integer);
  LilvNode* enumeration = world_.uri(LV2_CORE__enumeration);
  LilvNode* output = world_.uri(LILV_URI_OUTPUT_PORT);
  LilvNode* input = world_.uri(LILV_URI_INPUT_PORT);
  LilvNode* enabled = world_.uri(LV2_CORE__enabled);
  LilvNode* presetClass = world_.uri(LV2_PRESETS__Preset);
  LilvNode* logarithmic = world_.uri(LV2_PORT_PROPS__logarithmic);
  LilvNode* minorVersion = world_.uri(LV2_CORE__minorVersion);
  const std::size_t presetCount = listPresets(VORLUND_PRESETS_DIR).size();
  ASSERT_GE(presetCount, 5u);
  for (const lv2::PluginKind kind : {lv2::PluginKind::mono, lv2::PluginKind::stereo}) {
    const LilvPlugin* plugin = world_.plugin(lv2::pluginUri(kind));
    ASSERT_NE(nullptr, plugin);
    const lv2::PortLayout layout = lv2::portLayout(kind);
    ASSERT_EQ(layout.total, lilv_plugin_get_num_ports(plugin));
    std::vector<float> low(layout.total), high(layout.total), standard(layout.total);
    lilv_plugin_get_port_ranges_float(plugin, low.data(), high.data(), standard.data());
    const std::span<const RecordField> fields = lv2::portFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const RecordField& field = fields[i];
      SCOPED_TRACE(std::string(field.name));
      const std::uint32_t index = layout.field + static_cast<std::uint32_t>(i);
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
      EXPECT_EQ(lv2::portSymbol(field.name),
                lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
      // Hosts show the name: the label a person reads, never a code name with an index.
      LilvNode* name = lilv_port_get_name(plugin, port);
      ASSERT_NE(nullptr, name);
      EXPECT_EQ(field.label, lilv_node_as_string(name));
      EXPECT_EQ(std::string_view::npos, field.label.find('['));
      lilv_node_free(name);
      EXPECT_EQ(field.minimum, low[index]);
      EXPECT_EQ(field.maximum, high[index]);
      EXPECT_EQ(field.defaultValue, standard[index]);
      EXPECT_EQ(field.kind == FieldKind::Flag, lilv_port_has_property(plugin, port, toggled));
      EXPECT_EQ(field.kind == FieldKind::Int, lilv_port_has_property(plugin, port, integer));
      EXPECT_EQ(!field.labels.empty(), lilv_port_has_property(plugin, port, enumeration));
      EXPECT_EQ(field.unit == std::string_view("Hz"),
                lilv_port_has_property(plugin, port, logarithmic))
          << field.name;
      LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
      EXPECT_EQ(field.labels.size(), points != nullptr ? lilv_scale_points_size(points) : 0u);
      lilv_scale_points_free(points);
    }
    for (std::uint32_t i = 0; i < lv2::kMeterPorts; ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, layout.meter + i);
      EXPECT_TRUE(lilv_port_is_a(plugin, port, output));
      EXPECT_EQ(kMeterFields[i].key, lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
    }
    LilvNodes* minor = lilv_plugin_get_value(plugin, minorVersion);
    ASSERT_NE(nullptr, minor);
    EXPECT_EQ(VORLUND_VERSION_MINOR, lilv_node_as_int(lilv_nodes_get_first(minor)));
    lilv_nodes_free(minor);
    EXPECT_TRUE(lilv_plugin_has_latency(plugin));
    EXPECT_EQ(layout.control + lv2::kLatencyPort, lilv_plugin_get_latency_port_index(plugin));
    const LilvPort* enabledPort = lilv_plugin_get_port_by_designation(plugin, input, enabled);
    ASSERT_NE(nullptr, enabledPort);
    EXPECT_EQ(layout.control + lv2::kEnabledPort, lilv_port_get_index(plugin, enabledPort));
    EXPECT_EQ(1.0f, standard[layout.control + lv2::kEnabledPort]);
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    EXPECT_EQ(presetCount, lilv_nodes_size(presets));
    lilv_nodes_free(presets);
  }
  for (LilvNode* node : {toggled, integer, enumeration, output, input, enabled, presetClass,
                         logarithmic, minorVersion})
    lilv_node_free(node);
}

// Verifies that both plugins, run in the 10 ms blocks vorlund-process uses, give its output
// sample for sample with the same latency, and that the latency port reports N + L - 1.
TEST_F(Lv2PluginTest, OutputEqualsVorlundProcess) {
  for (const int channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const Channels in = speech(channels);
    auto plugin = instance(channels == 1 ? mono() : stereo());
    const Channels out = plugin->render(in, kProcessBlock);
    const Channels expected = process(in);
    ASSERT_EQ(expected.size(), out.size());
    for (std::size_t c = 0; c < out.size(); ++c) EXPECT_TRUE(sameSamples(expected[c], out[c]));
    VoiceChain chain;
    chain.prepare(kRate);
    EXPECT_EQ(static_cast<float>(chain.latencySamples()), plugin->value("latency"));
    EXPECT_GT(rmsDb(out.front(), 0), -40.0);
  }
}

// Verifies that the output does not depend on how the host cuts the stream into blocks (1,
// 7, 480 frames, or in place) for a record without per-block decisions, and stays within a
// small error for the factory record, whose automatic gate threshold moves once per block.
TEST_F(Lv2PluginTest, AnyBlockLengthAndInPlace) {
  const Channels in = speech(1);
  auto reference = instance(mono());
  reference->value("gateAuto") = 0.0f;
  const Channels expected = reference->render(in, kProcessBlock);
  for (const std::size_t block : {std::size_t{1}, std::size_t{7}, kProcessBlock}) {
    for (const bool inPlace : {false, true}) {
      SCOPED_TRACE(testing::Message() << block << (inPlace ? " in place" : ""));
      auto plugin = instance(mono());
      plugin->value("gateAuto") = 0.0f;
      EXPECT_TRUE(sameSamples(expected.front(), plugin->render(in, block, inPlace).front()));
    }
  }
  auto factory = instance(mono());
  const Channels tenMs = factory->render(in, kProcessBlock);
  auto single = instance(mono());
  const Channels oneByOne = single->render(in, 1);
  std::vector<float> error(in.front().size());
  for (std::size_t k = 0; k < error.size(); ++k) error[k] = oneByOne[0][k] - tenMs[0][k];
  EXPECT_LT(rmsDb(error, 0) - rmsDb(tenMs[0], 0), -30.0);
}

// Verifies that the enabled port off passes the input through bit for bit, and that mute
// fades to exact silence within 10 ms and comes back.
TEST_F(Lv2PluginTest, BypassAndMute) {
  const Channels in = speech(1);
  // Bypassed from the start: the input delayed by the latency the plugin reports.
  auto bypassed = instance(mono());
  bypassed->value("enabled") = 0.0f;
  const std::vector<float> out = bypassed->render(in, 64).front();
  const auto latency = static_cast<std::size_t>(bypassed->value("latency"));
  ASSERT_GT(latency, 0u);
  std::vector<float> delayed(latency, 0.0f);
  delayed.insert(delayed.end(), in.front().begin(), in.front().end() - static_cast<long>(latency));
  EXPECT_TRUE(sameSamples(delayed, out));
  EXPECT_NE(0.0f, bypassed->value("inputPeakDb"));

  auto muted = instance(mono());
  const Channels first = muted->render(in, kProcessBlock);
  muted->value("mute") = 1.0f;
  const Channels silent = muted->render(in, kProcessBlock);
  for (std::size_t k = kProcessBlock; k < silent[0].size(); ++k) ASSERT_EQ(0.0f, silent[0][k]) << k;
  EXPECT_EQ(-200.0f, muted->value("outputPeakDb"));
  muted->value("mute") = 0.0f;
  const Channels back = muted->render(in, kProcessBlock);
  EXPECT_NEAR(rmsDb(back[0], kProcessBlock), rmsDb(first[0], kProcessBlock), 3.0);
}

// Verifies that switching lv2:enabled off and on in the middle of a -20 dBFS tone never steps
// by more than twice the tone's own largest step, and that while off the output is the input
// delayed by the reported latency.
TEST_F(Lv2PluginTest, BypassIsClickFreeAndKeepsTheLatency) {
  constexpr double kPi = 3.14159265358979323846;
  const std::size_t length = static_cast<std::size_t>(kRate);
  Channels tone(1, std::vector<float>(length));
  for (std::size_t k = 0; k < length; ++k)
    tone[0][k] =
        static_cast<float>(0.1 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(k) / kRate));
  auto plugin = instance(mono());
  std::vector<float> out;
  const std::size_t off = 30 * kProcessBlock, on = 70 * kProcessBlock;
  for (std::size_t start = 0; start < length; start += kProcessBlock) {
    plugin->value("enabled") = start >= off && start < on ? 0.0f : 1.0f;
    Channels block(1,
                   std::vector<float>(tone[0].begin() + static_cast<long>(start),
                                      tone[0].begin() + static_cast<long>(start + kProcessBlock)));
    const Channels rendered = plugin->render(block, kProcessBlock);
    out.insert(out.end(), rendered[0].begin(), rendered[0].end());
  }
  const auto largestStep = [](const std::vector<float>& x, std::size_t from, std::size_t to) {
    float step = 0.0f;
    for (std::size_t k = from + 1; k < to; ++k) step = std::max(step, std::fabs(x[k] - x[k - 1]));
    return step;
  };
  // The tone's own step, as it enters and as the chain gives it back before the switch.
  const float own = std::max(largestStep(tone[0], 0, length), largestStep(out, off / 2, off));
  EXPECT_LE(largestStep(out, off / 2, length), 2.0f * own);
  // Once the fade is over, the delayed input bit for bit.
  const auto latency = static_cast<std::size_t>(plugin->value("latency"));
  ASSERT_GT(latency, 0u);
  const std::size_t fade = static_cast<std::size_t>(0.011 * kRate);
  for (std::size_t k = off + fade; k < on; ++k) ASSERT_EQ(tone[0][k - latency], out[k]) << k;
}

// Verifies that the relearn port acts on its rising edge: a host that holds it at 1 restarts
// the noise learning once, so the suppressor goes on to work exactly as if it had never been
// touched (on a level, it would restart every block and never suppress).
TEST_F(Lv2PluginTest, RelearnOnTheRisingEdge) {
  const Channels in = speech(1);
  auto held = instance(mono());
  held->value("relearn") = 1.0f;
  auto untouched = instance(mono());
  EXPECT_TRUE(sameSamples(untouched->render(in, kProcessBlock).front(),
                          held->render(in, kProcessBlock).front()));
}

// Verifies that every preset in the bundle, applied as a host applies it, gives what
// vorlund-process gives for the text record of the same name.
TEST_F(Lv2PluginTest, PresetsMatchTheTextRecords) {
  const Channels in = speech(1);
  LilvNode* presetClass = world_.uri(LV2_PRESETS__Preset);
  LilvNodes* presets = lilv_plugin_get_related(mono(), presetClass);
  std::size_t checked = 0;
  LILV_FOREACH(nodes, i, presets) {
    const LilvNode* preset = lilv_nodes_get(presets, i);
    auto plugin = instance(mono());
    // Hosts load a preset's own file first; the manifest only names it.
    lilv_world_load_resource(world_.world(), preset);
    LilvState* state = lilv_state_new_from_world(world_.world(), plugin->map(), preset);
    ASSERT_NE(nullptr, state);
    const std::string uri = lilv_node_as_uri(preset);
    const std::string name = uri.substr(uri.find("#preset-") + 8);
    SCOPED_TRACE(name);
    plugin->restoreState(state, true);
    lilv_state_free(state);
    EXPECT_TRUE(sameSamples(process(in, {"--preset", name}).front(),
                            plugin->render(in, kProcessBlock).front()));
    ++checked;
  }
  lilv_nodes_free(presets);
  lilv_node_free(presetClass);
  EXPECT_EQ(listPresets(VORLUND_PRESETS_DIR).size(), checked);
}

// Verifies that the saved state carries the whole record: a fresh instance restored from it,
// with its own ports untouched, sounds like the one saved, until one of its ports moves.
TEST_F(Lv2PluginTest, StateRoundTrip) {
  const Channels in = speech(1);
  auto saved = instance(mono());
  saved->value("effectMode") = 2.0f;  // radio
  saved->value("outputGainDb") = -4.0f;
  saved->value("gateEnabled") = 1.0f;
  saved->render(in, kProcessBlock);
  LilvState* state = saved->saveState();
  ASSERT_NE(nullptr, state);

  auto twin = instance(mono());
  twin->value("effectMode") = 2.0f;
  twin->value("outputGainDb") = -4.0f;
  twin->value("gateEnabled") = 1.0f;
  auto restored = instance(mono());
  restored->restoreState(state, false);
  lilv_state_free(state);
  EXPECT_EQ(0.0f, restored->value("outputGainDb"));
  const Channels expected = twin->render(in, kProcessBlock);
  EXPECT_TRUE(sameSamples(expected.front(), restored->render(in, kProcessBlock).front()));

  restored->value("outputGainDb") = -10.0f;
  const Channels moved = restored->render(in, kProcessBlock);
  EXPECT_LT(rmsDb(moved[0], in[0].size() / 2), rmsDb(expected[0], in[0].size() / 2) - 3.0);
}

// Verifies the faults a host can bring about: rates the chain refuses fail instantiate with a
// message in the host's log; run before activate processes as after it; NaN and infinite
// samples count as silence and leave the output finite.
TEST_F(Lv2PluginTest, Faults) {
  for (const double rate : {1000.0, 768000.0, std::numeric_limits<double>::quiet_NaN()}) {
    PluginInstance refused(world_, mono(), rate);
    EXPECT_EQ(nullptr, refused.instance());
    EXPECT_NE(std::string::npos, refused.log().find("refused")) << refused.log();
  }

  const Channels in = speech(1);
  PluginInstance unactivated(world_, mono(), kRate);
  ASSERT_NE(nullptr, unactivated.instance());
  auto activated = instance(mono());
  EXPECT_TRUE(sameSamples(activated->render(in, kProcessBlock).front(),
                          unactivated.render(in, kProcessBlock).front()));

  Channels broken = in;
  Channels zeroed = in;
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()};
  for (std::size_t k = 1000; k < 1300; ++k) {
    broken[0][k] = bad[k % 3];
    zeroed[0][k] = 0.0f;
  }
  auto hurt = instance(mono());
  auto healthy = instance(mono());
  const Channels out = hurt->render(broken, 7);
  for (const float x : out[0]) ASSERT_TRUE(std::isfinite(x));
  EXPECT_TRUE(sameSamples(healthy->render(zeroed, 7).front(), out.front()));
}

// Verifies that a following instance takes its record from the shared block (its record ports
// ignored), publishes its meters there, and that without a data folder it says so in the log
// and keeps to its ports.
TEST_F(Lv2PluginTest, FollowsTheDataFolder) {
  const Channels in = speech(1);
  const std::size_t half = in[0].size() / 2;
  {
    auto alone = instance(mono());
    EXPECT_NE(std::string::npos, alone->log().find("no data folder")) << alone->log();
    alone->value("follow") = 1.0f;
    const double before = rmsDb(alone->render(in, kProcessBlock)[0], half);
    alone->value("outputGainDb") = -6.0f;
    EXPECT_NEAR(before - 6.0, rmsDb(alone->render(in, kProcessBlock)[0], half), 0.5);
  }

  temp_.create();
  ParameterChannel control;
  auto plugin = instance(mono());
  EXPECT_EQ(std::string::npos, plugin->log().find("no data folder")) << plugin->log();
  control.open();
  SharedBlock* block = control.activeBlock();
  ASSERT_NE(nullptr, block);
  ASSERT_TRUE(control.isShared());
  plugin->value("follow") = 1.0f;
  plugin->value("outputGainDb") = -10.0f;  // ignored while following
  const double factory = rmsDb(plugin->render(in, kProcessBlock)[0], half);
  EXPECT_EQ(1, sharedWord(block->activeStreams).load());
  EXPECT_GT(sharedWord(block->processedBlocks).load(), 0u);
  EXPECT_EQ(sharedWord(block->outputRmsDb).load(), plugin->value("outputRmsDb"));

  ParameterBlock record = test::defaultRecord();
  record.outputGainDb = -6.0f;
  publishRecord(*block, record);
  EXPECT_NEAR(factory - 6.0, rmsDb(plugin->render(in, kProcessBlock)[0], half), 0.5);

  plugin->value("follow") = 0.0f;
  EXPECT_NEAR(factory - 10.0, rmsDb(plugin->render(in, kProcessBlock)[0], half), 0.5);
  EXPECT_EQ(0, sharedWord(block->activeStreams).load());
  plugin.reset();
  control.close();
}

// Verifies that lv2apply, a host outside this code, renders a file through the bundle as
// vorlund-process does.
TEST_F(Lv2PluginTest, Lv2applyRendersAFile) {
  if (std::string(VORLUND_LV2APPLY).empty())
    GTEST_SKIP() << "no lv2apply for this build: not installed (lilv-utils), or a sanitized "
                    "build, whose plugin only a sanitized host can load";
  const Channels in = speech(1);
  const fs::path input = temp_.programData() / "apply-in.wav";
  const fs::path output = temp_.programData() / "apply-out.wav";
  writeWav(input, in);
  setEnvironmentVariable("LV2_PATH", VORLUND_LV2_PATH);
  const std::vector<std::string> arguments = {
      VORLUND_LV2APPLY, "-i", input.string(), "-o", output.string(), std::string(lv2::kMonoUri)};
  const Path log = Path::fromUtf8((temp_.programData() / "apply.log").string());
  ASSERT_EQ(0, runProcess(arguments, log, log))
      << test::readBytes(temp_.programData() / "apply.log");
  const Channels rendered = readWav(output);
  ASSERT_EQ(1u, rendered.size());
  EXPECT_LT(maxDifference(process(in).front(), rendered.front()), 1e-6f);
}

}  // namespace
}  // namespace vorlund
