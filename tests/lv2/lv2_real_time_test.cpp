// Counts every heap allocation of the LV2 test program, the plugin's included (it calls this
// program's replacement operator new, counting_allocator.h), to show that run() never allocates or
// does file I/O while blocks of any length, port changes, records from the shared block, relearn
// requests and following switched on and off come and go.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "channel/parameter_channel.h"
#include "counting_allocator.h"
#include "lv2_host.h"
#include "platform/system.h"
#include "port_layout.h"
#include "signal_helpers.h"
#include "temp_data_folder.h"

namespace vorlund {
namespace {

using test::allocationCount;

// Verifies that instantiate allocates (so the count reaches into the plugin) and that 4,000
// runs with everything a host and vorlund-ctl can change meanwhile allocate nothing and make
// no read or write system call, while the changes really take effect.
TEST(Lv2RealTimeTest, RunNeverAllocates) {
  test::TempDataFolder temp;
  test::Lv2World world;
  // lilv allocates with malloc, so what this counts comes from the plugin's own operator new.
  const long beforeInstantiate = allocationCount.load();
  LilvInstance* counted = lilv_plugin_instantiate(world.plugin(lv2::kMonoUri), 48000.0, nullptr);
  EXPECT_GT(allocationCount.load(), beforeInstantiate);
  lilv_instance_free(counted);
  test::PluginInstance plugin(world, world.plugin(lv2::kStereoUri), 48000.0);
  ASSERT_NE(nullptr, plugin.instance());
  plugin.activate();
  ParameterChannel control;
  control.open();
  SharedBlock* block = control.activeBlock();
  ASSERT_NE(nullptr, block);

  constexpr std::uint32_t kLengths[] = {1, 7, 480, 1024, 333};
  std::vector<float> left = test::whiteNoise(1024, 3, 0.2f), right = left, out(2048);
  for (std::size_t c = 0; c < 2; ++c) {
    lilv_instance_connect_port(plugin.instance(), plugin.audioInputs()[c],
                               c == 0 ? left.data() : right.data());
    lilv_instance_connect_port(plugin.instance(), plugin.audioOutputs()[c], out.data() + 1024 * c);
  }
  float& gain = plugin.value("outputGainDb");
  float& mode = plugin.value("effectMode");
  float& follow = plugin.value("follow");
  float& relearn = plugin.value("relearn");
  float& outputPeak = plugin.value("outputPeakDb");
  ParameterBlock records[2];
  setDefaults(records[0]);
  setDefaults(records[1]);
  records[1].effectMode = 6;  // reverb: the voice effect's largest buffers in use

  std::uint64_t io0 = 0, io1 = 0, io2 = 0;
  const bool ioCounted = processIoOperations(io0) && processIoOperations(io1);
  const long before = allocationCount.load();
  int peaksSeen = 0;
  for (int b = 0; b < 4000; ++b) {
    if (b % 100 == 10) gain = static_cast<float>(-(b / 100 % 12));
    if (b % 300 == 20) mode = static_cast<float>(b / 300 % 7);
    if (b % 500 == 30) follow = follow == 0.0f ? 1.0f : 0.0f;
    if (b % 200 == 40) publishRecord(*block, records[b / 200 % 2]);
    relearn = b % 250 == 50 ? 1.0f : 0.0f;
    lilv_instance_run(plugin.instance(), kLengths[b % 5]);
    peaksSeen += outputPeak > -200.0f;
  }
  const long allocations = allocationCount.load() - before;
  if (ioCounted) processIoOperations(io2);

  EXPECT_EQ(0, allocations);
  if (ioCounted) {
    EXPECT_EQ(io1 - io0, io2 - io1) << "read or write system calls in run()";
  }
  EXPECT_GT(peaksSeen, 3000);
  EXPECT_GT(sharedWord(block->processedBlocks).load(), 1000u);
  control.close();
}

}  // namespace
}  // namespace vorlund
