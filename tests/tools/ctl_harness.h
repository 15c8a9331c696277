// The two sides of the control application's tests: vorlund-ctl run as a separate process on
// real files, and a stream running in this process on its own thread, as the audio engine
// runs one, whose every block is noted down.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/stream_helpers.h"
#include "platform/process.h"
#include "platform/system.h"
#include "tool_run.h"

namespace vorlund::test {

// Runs vorlund-ctl with `arguments`, its output caught in files of the temporary folder. The
// child inherits this process's environment, ProgramData included.
inline ToolRun runCtl(const TempDataFolder& temp, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), fs::path(VORLUND_CTL).make_preferred().string());
  return runTool(arguments, temp.programData() / "ctl.out", temp.programData() / "ctl.err");
}

// How long a test waits for something another process or thread does; far beyond what it
// needs, so that only a fault runs into it.
constexpr std::uint64_t kPatienceMs = 20000;

// A stereo stream locked at 48 kHz in the current data folder, fed 10 ms blocks of a 1 kHz
// sine at -20 dBFS on its own thread.
class BackgroundStream {
 public:
  static constexpr float kAmplitude = 0.1f;  // -20 dBFS peak

  struct Block {
    std::uint32_t appliedCounter;  // of the record the block ran with
    double gainDb;                 // output RMS over input RMS
    std::int32_t noiseFrames;      // the suppressor's learning frames after the block
  };

  BackgroundStream() : connections_(floatFormat(2, 48000.0f)) {}
  ~BackgroundStream() { stop(); }
  BackgroundStream(const BackgroundStream&) = delete;
  BackgroundStream& operator=(const BackgroundStream&) = delete;

  // Locks (opening the parameter channel) and starts processing.
  void start() {
    ASSERT_EQ(S_OK, connections_.lock(lifecycle_));
    resume();
  }
  void resume() {
    running_ = true;
    thread_ = std::thread([this] { run(); });
  }
  // Stops processing but stays locked, as a stalled audio engine would.
  void pause() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  // Stops processing and unlocks.
  void stop() {
    pause();
    if (lifecycle_.frame().isLocked()) {
      EXPECT_EQ(S_OK, lifecycle_.unlockForProcess());
    }
  }

  std::vector<Block> blocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
  }
  std::size_t blockCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.size();
  }
  ParameterBlock params() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lifecycle_.frame().chain().record();
  }
  bool shared() const { return lifecycle_.frame().channel().isShared(); }
  SharedBlock& block() { return *lifecycle_.frame().channel().activeBlock(); }
  int latencySamples() const { return lifecycle_.latencySamples(); }

  // The index of the first block that ran with record counter `counter`, once one has.
  std::optional<std::size_t> waitForCounter(std::uint32_t counter) {
    for (const std::uint64_t deadline = tickCount64() + kPatienceMs; tickCount64() < deadline;) {
      const std::vector<Block> noted = blocks();
      for (std::size_t i = 0; i < noted.size(); ++i)
        if (noted[i].appliedCounter == counter) return i;
      sleepMilliseconds(5);
    }
    return std::nullopt;
  }
  // Waits until the chain runs with a record for which `holds` is true.
  bool waitForRecord(const std::function<bool(const ParameterBlock&)>& holds) {
    for (const std::uint64_t deadline = tickCount64() + kPatienceMs; tickCount64() < deadline;) {
      if (holds(params())) return true;
      sleepMilliseconds(5);
    }
    return false;
  }
  // Waits for `count` more blocks.
  void waitForBlocks(std::size_t count) {
    const std::size_t target = blockCount() + count;
    for (const std::uint64_t deadline = tickCount64() + kPatienceMs;
         blockCount() < target && tickCount64() < deadline;)
      sleepMilliseconds(5);
    ASSERT_GE(blockCount(), target);
  }

 private:
  // A short pause between blocks keeps the two cores free for the control program.
  static constexpr std::uint32_t kPauseMs = 2;

  void run() {
    const std::vector<float> mono = sine(1000.0, 48000.0, 480, kAmplitude);
    std::vector<float> samples(2 * mono.size());
    std::vector<float> out(mono.size());
    while (running_) {
      for (std::size_t k = 0; k < mono.size(); ++k) samples[2 * k] = samples[2 * k + 1] = mono[k];
      {
        std::lock_guard<std::mutex> lock(mutex_);
        runBlock(lifecycle_, samples, 480);
        for (std::size_t k = 0; k < mono.size(); ++k) out[k] = samples[2 * k];
        blocks_.push_back({lifecycle_.frame().lastAppliedCounter(), toDb(rms(out) / rms(mono)),
                           lifecycle_.frame().chain().suppressor().frameCount()});
      }
      sleepMilliseconds(kPauseMs);
    }
  }

  StreamConnections connections_;
  ProcessingLifecycle lifecycle_;
  std::mutex mutex_;
  std::vector<Block> blocks_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace vorlund::test
