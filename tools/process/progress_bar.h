// The progress line of vorlund-process on a terminal: a bar, the share done and the time
// left at the pace so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlund {

class ProgressBar {
 public:
  // Shown only when `shown` and there is something to count.
  ProgressBar(bool shown, std::size_t total);
  // `done` of the total, `elapsedMs` since the start.
  void update(std::size_t done, std::uint64_t elapsedMs);
  // Clears the line.
  void finish();

  // "12 s left", "3 min 05 s left"; empty until enough is done to judge the pace.
  static std::string timeLeft(std::size_t done, std::size_t total, std::uint64_t elapsedMs);

 private:
  bool shown_;
  std::size_t total_;
  int lastPercent_ = -1;
  std::size_t lastWidth_ = 0;
};

}  // namespace vorlund
