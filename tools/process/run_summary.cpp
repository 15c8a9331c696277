#include "run_summary.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace vorlund {
namespace {

std::string decibels(double amplitude) {
  return amplitude > 0.0 ? fixedText(20.0 * std::log10(amplitude), 1) + " dBFS" : "-inf dBFS";
}

std::string lufsText(double lufs) {
  return lufs == LoudnessMeter::kNoLoudness ? "(too quiet or short)" : fixedText(lufs, 1) + " LUFS";
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

constexpr int kHumLines = 4;

std::string levelText(double db, const char* unit) {
  return std::isfinite(db) ? fixedText(db, 1) + " " + unit : std::string("-inf ") + unit;
}

// Hum, pause noise and voice level in and out: what backs a claim about each.
std::string figuresText(const FrameFigures& in, const FrameFigures& out) {
  const Sections sections = findSections(in);
  std::string text = "  in pauses (" + std::to_string(sections.pauses.size()) + ") and voice (" +
                     std::to_string(sections.voice.size()) + ") of the input's 100 ms frames\n";
  for (std::size_t line = 0; line < in.lines().size(); ++line)
    text += "  " + padded("hum " + fixedText(in.lines()[line], 0) + " Hz", 14) +
            padded(levelText(in.lineLevelDb(line, sections.pauses), "dBFS"), 22) +
            levelText(out.lineLevelDb(line, sections.pauses), "dBFS") + "\n";
  text += "  pause noise   " + padded(levelText(in.levelDb(sections.pauses), "dBFS"), 22) +
          levelText(out.levelDb(sections.pauses), "dBFS") + "\n";
  const auto lufs = [](double value) {
    return value == LoudnessMeter::kNoLoudness ? std::string("-inf LUFS")
                                               : levelText(value, "LUFS");
  };
  text += "  voice         " + padded(lufs(in.loudnessLufs(sections.voice)), 22) +
          lufs(out.loudnessLufs(sections.voice)) + "\n";
  return text;
}

}  // namespace

std::vector<double> humLines(double baseHz) {
  std::vector<double> lines;
  for (int harmonic = 1; harmonic <= kHumLines; ++harmonic) lines.push_back(baseHz * harmonic);
  return lines;
}

void SignalStats::add(const float* interleaved, std::size_t frames, int channels) {
  const std::size_t count = frames * static_cast<std::size_t>(channels);
  for (std::size_t i = 0; i < count; ++i) {
    const double x = interleaved[i];
    peak = std::max(peak, std::fabs(x));
    sumSquares += x * x;
    if (std::fabs(x) >= kFullScale) ++fullScaleSamples;
  }
  samples += count;
  loudness.add(interleaved, frames);
}

double SignalStats::rms() const {
  return samples == 0 ? 0.0 : std::sqrt(sumSquares / double(samples));
}

void MeterRanges::add(const Values& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    low[i] = seen ? std::min(low[i], values[i]) : values[i];
    high[i] = seen ? std::max(high[i], values[i]) : values[i];
  }
  seen = true;
}

std::string summaryText(const RunFacts& facts, const SignalStats& in, const SignalStats& out,
                        const FrameFigures& inFigures, const FrameFigures& outFigures,
                        const MeterRanges& ranges) {
  std::string text = "vorlund-process: " + facts.input + " -> " + facts.output + "\n";
  text += "  input         " + facts.inputFormat + ", " + std::to_string(facts.channels) + " ch, " +
          std::to_string(facts.sampleRate) + " Hz, " + fixedText(facts.seconds, 2) + " s\n";
  text += "  output        " + facts.outputFormat + "\n";
  if (facts.channels > 1)
    text += "  channels      the effect is mono: it processes the mean of the " +
            std::to_string(facts.channels) + " channels and writes the result to every channel\n";
  text += "  record        " + facts.origin + "\n";
  text += "                " + padded("input", 22) + "output\n";
  text += "  peak          " + padded(decibels(in.peak), 22) + decibels(out.peak) + "\n";
  text += "  RMS           " + padded(decibels(in.rms()), 22) + decibels(out.rms()) + "\n";
  text += "  loudness      " + padded(lufsText(in.loudness.integratedLufs()), 22) +
          lufsText(out.loudness.integratedLufs()) + "\n";
  text += figuresText(inFigures, outFigures);
  text += "  latency       " + std::to_string(facts.latencyFrames) + " samples (" +
          fixedText(facts.latencyFrames * 1000.0 / facts.sampleRate, 2) + " ms)" +
          (facts.aligned ? ", removed by --align" : "") + "\n";
  text += "  CPU time      " + fixedText(facts.cpuSeconds, 3) + " s";
  if (facts.cpuSeconds > 0.0)
    text += ", " + fixedText(facts.seconds / facts.cpuSeconds, 0) + "x real time";
  text += "\n";
  if (ranges.seen) {
    text += "  meter ranges (dB, lowest .. highest over the blocks)\n";
    for (std::size_t i = 0; i < kMeterFields.size(); ++i) {
      const MeterScale scale = kMeterFields[i].scale;
      if (scale != MeterScale::reduction && scale != MeterScale::gain) continue;
      text += "    " + padded(std::string(kMeterFields[i].label), 20) +
              fixedText(ranges.low[i], 1) + " .. " + fixedText(ranges.high[i], 1) + "\n";
    }
  }
  return text;
}

}  // namespace vorlund
