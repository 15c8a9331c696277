// Counts heap allocations made on the real-time path. Replacing the global allocation
// functions covers every container and helper the chain could use behind our back.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/block_frame.h"
#include "platform/performance_counter.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace vorlund {
namespace {

// Verifies that thousands of blocks, with record changes that switch every stage on and off,
// resets and odd block lengths in between, allocate nothing on the real-time path.
TEST(RealtimeAllocationTest, ProcessingNeverAllocates) {
  constexpr std::uint32_t kChannels = 2;
  constexpr std::uint32_t kMaxFrames = 480;
  BlockFrame frame;
  frame.chain.prepare(48000.0);
  frame.sizeBuffers(kMaxFrames, kMaxFrames);
  frame.resetStatistics();
  frame.inputChannelCount = kChannels;
  frame.sampleRate = 48000.0f;
  frame.counterFrequency = performanceFrequency();
  frame.locked = true;

  std::vector<float> buffer(kMaxFrames * kChannels);
  APO_CONNECTION_PROPERTY connection{};
  APO_CONNECTION_PROPERTY* connections[] = {&connection};
  ParameterBlock everythingOn;
  setDefaults(everythingOn);
  everythingOn.humFilterEnabled = everythingOn.gateEnabled = everythingOn.agcEnabled = 1;
  everythingOn.highPassOrder = 4;
  everythingOn.effectMode = 4;
  for (EqBand& band : everythingOn.eqBands) band.gainDb = 3.0f;

  counting = true;
  for (int block = 0; block < 4000; ++block) {
    const std::uint32_t frames = block % 7 == 0 ? 100 + block % 300 : kMaxFrames;
    for (std::uint32_t i = 0; i < frames * kChannels; ++i)
      buffer[i] = 0.3f * std::sin(0.001f * static_cast<float>(block * 480 + i));
    connection = {reinterpret_cast<UINT_PTR>(buffer.data()), frames, BUFFER_VALID, 0};
    if (block % 50 == 0) {
      ParameterBlock& params = frame.chain.params;
      if (block % 100 == 0) {
        params = everythingOn;
        params.effectMode = (block / 100) % 7;
      } else {
        setDefaults(params);
      }
      sanitise(params);
      frame.chain.update();
    }
    if (block % 333 == 0) frame.requestReset();
    frame.process(1, connections, 1, connections);
  }
  counting = false;
  EXPECT_EQ(0, allocations.load());
  EXPECT_EQ(4000, frame.blockCount);
}

}  // namespace
}  // namespace vorlund
