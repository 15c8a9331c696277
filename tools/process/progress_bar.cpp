#include "progress_bar.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace vorlund {
namespace {

constexpr int kWidth = 40;
// Below this share or time the pace says too little for an estimate.
constexpr double kMinShareForEstimate = 0.02;
constexpr std::uint64_t kMinElapsedForEstimateMs = 500;

}  // namespace

ProgressBar::ProgressBar(bool shown, std::size_t total)
    : shown_(shown && total > 0), total_(total) {}

std::string ProgressBar::timeLeft(std::size_t done, std::size_t total, std::uint64_t elapsedMs) {
  if (total == 0 || done == 0 || elapsedMs < kMinElapsedForEstimateMs) return {};
  const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  if (share < kMinShareForEstimate) return {};
  const auto seconds =
      static_cast<long long>(std::ceil(elapsedMs / 1000.0 * (1.0 - share) / share));
  if (seconds < 60) return std::to_string(seconds) + " s left";
  const long long s = seconds % 60;
  return std::to_string(seconds / 60) + " min " + (s < 10 ? "0" : "") + std::to_string(s) +
         " s left";
}

void ProgressBar::update(std::size_t done, std::uint64_t elapsedMs) {
  if (!shown_) return;
  const int percent = static_cast<int>(100.0 * std::min(done, total_) / double(total_));
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const int filled = percent * kWidth / 100;
  std::string line = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] " +
                     std::to_string(percent) + "%";
  const std::string left = timeLeft(done, total_, elapsedMs);
  if (!left.empty()) line += ", " + left;
  // Pads over the end of a longer previous line.
  const std::size_t width = line.size();
  if (width < lastWidth_) line += std::string(lastWidth_ - width, ' ');
  lastWidth_ = std::max(lastWidth_, width);
  std::cout << line << std::flush;
}

void ProgressBar::finish() {
  if (shown_) std::cout << "\r" << std::string(lastWidth_, ' ') << "\r" << std::flush;
}

}  // namespace vorlund
