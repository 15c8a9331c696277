#include "run_report.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string_view>
#include <utility>

#include "common/number_text.h"
#include "common/record_file.h"
#include "common/recording_figures.h"
#include "common/system_error_text.h"
#include "engine/meter_table.h"
#include "platform/replacing_file.h"
#include "process_error.h"

namespace vorlund {
namespace {

// The picture: a logarithmic frequency axis from kLowestHz up, levels from kFloorDb (black)
// to kTopDb (white-yellow).
constexpr int kRows = 256;
constexpr int kGap = 6;
constexpr double kLowestHz = 50.0;
constexpr double kHighestHz = 20000.0;
constexpr float kFloorDb = -110.0f;
constexpr float kTopDb = -20.0f;

struct Rgb {
  unsigned char r, g, b;
};

// Black, deep violet, red, orange, pale yellow: dark for quiet, bright for loud.
Rgb colour(float db) {
  constexpr Rgb kStops[] = {
      {0, 0, 4}, {80, 18, 123}, {182, 54, 121}, {251, 136, 97}, {252, 253, 191}};
  constexpr int kSpans = static_cast<int>(std::size(kStops)) - 1;
  const float t = std::clamp((db - kFloorDb) / (kTopDb - kFloorDb), 0.0f, 1.0f) * kSpans;
  const int i = std::min(static_cast<int>(t), kSpans - 1);
  const float f = t - static_cast<float>(i);
  const auto mix = [f](unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(std::lround(a + (b - a) * f));
  };
  return {mix(kStops[i].r, kStops[i + 1].r), mix(kStops[i].g, kStops[i + 1].g),
          mix(kStops[i].b, kStops[i + 1].b)};
}

std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string base64(const std::vector<unsigned char>& bytes) {
  constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = std::uint32_t{bytes[i]} << 16;
    if (n > 1) v |= std::uint32_t{bytes[i + 1]} << 8;
    if (n > 2) v |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// One meter over time as an SVG line plot with its range written beside it.
std::string plot(const std::vector<MeterSample>& samples, std::string_view title,
                 const auto& value) {
  constexpr int kWidth = 800, kHeight = 110, kLeft = 60, kTop = 8;
  if (samples.empty()) return {};
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (const MeterSample& s : samples) {
    low = std::min(low, value(s.reading));
    high = std::max(high, value(s.reading));
  }
  if (!std::isfinite(low) || !std::isfinite(high)) return {};
  const double span = std::max(high - low, 1.0);
  const double end = std::max(samples.back().seconds, 1e-3);
  std::string points;
  for (const MeterSample& s : samples) {
    const double x = kLeft + (kWidth - kLeft - 4) * s.seconds / end;
    const double y = kTop + (kHeight - 2 * kTop) * (high - value(s.reading)) / span;
    points += fixedText(x, 1) + "," + fixedText(y, 1) + " ";
  }
  std::string svg =
      "<figure><figcaption>" + escaped(title) + ", over " + fixedText(end, 1) + " s</figcaption>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
         "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(kWidth) +
         " " + std::to_string(kHeight) + "\">\n";
  svg += "<rect x=\"" + std::to_string(kLeft) + "\" y=\"0\" width=\"" +
         std::to_string(kWidth - kLeft) + "\" height=\"" + std::to_string(kHeight) +
         "\" fill=\"#f6f6f6\"/>\n";
  svg += "<text x=\"4\" y=\"" + std::to_string(kTop + 8) + "\">" + fixedText(high, 1) +
         "</text>\n<text x=\"4\" y=\"" + std::to_string(kHeight - kTop) + "\">" +
         fixedText(low, 1) + "</text>\n";
  svg += "<polyline fill=\"none\" stroke=\"#6a1b9a\" stroke-width=\"1.5\" points=\"" + points +
         "\"/>\n</svg></figure>\n";
  return svg;
}

const MeterField* meterByKey(std::string_view key) {
  for (const MeterField& meter : kMeterFields)
    if (meter.key == key) return &meter;
  return nullptr;
}

std::size_t meterIndex(const MeterField* meter) {
  return static_cast<std::size_t>(meter - kMeterFields.data());
}

void writePng(png_structp png, png_bytep data, png_size_t length) {
  auto* bytes = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  bytes->insert(bytes->end(), data, data + length);
}

void save(const std::string& file, const void* data, std::size_t size) {
  const DWORD error =
      replaceFileContent(pathFromUtf8(file), {static_cast<const char*>(data), size});
  if (error != ERROR_SUCCESS)
    throw ProcessError(ExitCode::inputFile, "cannot write " + file + ": " + systemErrorText(error));
}

}  // namespace

Spectrogram::Spectrogram(double sampleRate, int channels, std::size_t expectedFrames,
                         std::size_t columns)
    : sampleRate_(sampleRate),
      channels_(channels),
      hop_(std::max<std::size_t>(kFftSize / 4, expectedFrames / std::max<std::size_t>(columns, 1))),
      ring_(kFftSize, 0.0f),
      window_(hannWindow(kFftSize)),
      re_(kFftSize),
      im_(kFftSize) {
  fft_.setup(kFftSize);
  listening_.reserve(
      std::min(expectedFrames, static_cast<std::size_t>(kListenSeconds * sampleRate)));
}

void Spectrogram::add(const float* interleaved, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    float sum = 0.0f;
    for (int c = 0; c < channels_; ++c) sum += interleaved[i * channels_ + c];
    ring_[next_] = sum / static_cast<float>(channels_);
    if (static_cast<double>(listening_.size()) < kListenSeconds * sampleRate_)
      listening_.push_back(ring_[next_]);
    next_ = (next_ + 1) % ring_.size();
    ++seen_;
    if (seen_ >= static_cast<std::size_t>(kFftSize) && (seen_ - kFftSize) % hop_ == 0) addColumn();
  }
}

void Spectrogram::addColumn() {
  double windowSum = 0.0;
  for (int n = 0; n < kFftSize; ++n) {
    re_[n] =
        static_cast<float>(static_cast<double>(ring_[(next_ + n) % ring_.size()]) * window_[n]);
    im_[n] = 0.0f;
    windowSum += window_[n];
  }
  fft_.forwardReal(re_.data(), im_.data());
  std::vector<float>& column = columns_.emplace_back(kFftSize / 2 + 1);
  for (int k = 0; k <= kFftSize / 2; ++k) {
    const double amplitude = 2.0 * static_cast<double>(std::hypot(re_[k], im_[k])) / windowSum;
    column[k] = static_cast<float>(20.0 * std::log10(std::max(amplitude, 1e-12)));
  }
}

float Spectrogram::levelDb(std::size_t column, int bin) const {
  return columns_[column][static_cast<std::size_t>(bin)];
}

double Spectrogram::columnSeconds(double column) const noexcept {
  return (kFftSize / 2.0 + column * static_cast<double>(hop_)) / sampleRate_;
}

double Spectrogram::listeningSeconds() const noexcept {
  return static_cast<double>(listening_.size()) / sampleRate_;
}

std::vector<unsigned char> Spectrogram::listeningWav() const {
  constexpr std::size_t kHeaderBytes = 44;
  const auto dataBytes = static_cast<std::uint32_t>(2 * listening_.size());
  std::vector<unsigned char> bytes(kHeaderBytes + dataBytes);
  std::size_t at = 0;
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at++] = static_cast<unsigned char>(value >> (8 * i));
  };
  const auto text = [&](std::string_view tag) {
    for (char c : tag) bytes[at++] = static_cast<unsigned char>(c);
  };
  const auto rate = static_cast<std::uint32_t>(std::lround(sampleRate_));
  text("RIFF");
  put(36 + dataBytes, 4);
  text("WAVEfmt ");
  put(16, 4);
  put(1, 2);  // PCM
  put(1, 2);  // mono
  put(rate, 4);
  put(2 * rate, 4);
  put(2, 2);
  put(16, 2);
  text("data");
  put(dataBytes, 4);
  for (float x : listening_)
    put(static_cast<std::uint16_t>(std::lround(std::clamp(x, -1.0f, 1.0f) * 32767.0f)), 2);
  return bytes;
}

std::vector<unsigned char> spectrogramPng(const Spectrogram& input, const Spectrogram& output) {
  const std::size_t width =
      std::max<std::size_t>(1, std::max(input.columnCount(), output.columnCount()));
  const int height = 2 * kRows + kGap;
  std::vector<unsigned char> pixels(width * static_cast<std::size_t>(height) * 3, 255);
  const double top = std::min(kHighestHz, input.sampleRate() / 2.0);
  const double binHz = input.sampleRate() / Spectrogram::kFftSize;
  for (int half = 0; half < 2; ++half) {
    const Spectrogram& picture = half == 0 ? input : output;
    for (int row = 0; row < kRows; ++row) {
      // The bins between this row's frequency and the next row's, the loudest shown.
      const auto frequency = [&](double r) {
        return kLowestHz * std::pow(top / kLowestHz, 1.0 - r / kRows);
      };
      const int upper =
          std::min(Spectrogram::kFftSize / 2, static_cast<int>(frequency(row) / binHz));
      const int lower = std::min(upper, static_cast<int>(frequency(row + 1.0) / binHz));
      for (std::size_t column = 0; column < picture.columnCount(); ++column) {
        float db = kFloorDb;
        for (int bin = lower; bin <= upper; ++bin) db = std::max(db, picture.levelDb(column, bin));
        const Rgb c = colour(db);
        unsigned char* p =
            &pixels[((static_cast<std::size_t>(half * (kRows + kGap) + row)) * width + column) * 3];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
      }
    }
  }
  std::vector<unsigned char> bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw ProcessError(ExitCode::inputFile, "cannot make the spectrogram picture");
  }
  png_set_write_fn(png, &bytes, writePng, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row)
    png_write_row(png, &pixels[static_cast<std::size_t>(row) * width * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

namespace {

// The players: input and output, one switch that carries the position from one to the other,
// and a cursor over the spectrograms that follows whichever plays.
std::string players(const ReportContent& content) {
  std::string html = "<h2>Listen</h2>\n<p>";
  const double seconds = content.input->listeningSeconds();
  html += seconds < Spectrogram::kListenSeconds
              ? "The whole recording (as the mean of its channels), "
              : "The first " + fixedText(seconds, 0) + " s (as the mean of the channels), ";
  html +=
      "input and output. <b>A/B</b> (or the key A) switches between them at the same "
      "moment.</p>\n<p><button id=\"ab\">A/B</button> <span id=\"which\">input</span></p>\n";
  for (const auto& [id, picture] : {std::pair{"input", content.input}, {"output", content.output}})
    html += "<p>" + std::string(id) + ": <audio id=\"" + id +
            "\" controls preload=\"auto\" src=\"data:audio/wav;base64," +
            base64(picture->listeningWav()) + "\"></audio></p>\n";
  html += R"(<script>
const players = [document.getElementById('input'), document.getElementById('output')];
let heard = 0;
function show() {
  document.getElementById('which').textContent = players[heard].id;
  players[heard].muted = false;
  players[1 - heard].muted = true;
}
function abSwitch() {
  const from = players[heard], to = players[1 - heard];
  const playing = !from.paused;
  from.pause();
  to.currentTime = from.currentTime;
  heard = 1 - heard;
  show();
  if (playing) to.play();
}
players.forEach((p, i) => {
  p.addEventListener('play', () => { if (i !== heard) { heard = i; show(); } });
  p.addEventListener('timeupdate', () => {
    const cursor = document.getElementById('cursor');
    if (i === heard && cursor) cursor.setAttribute('transform', 'translate(' + p.currentTime * cursor.dataset.pixelsPerSecond + ',0)');
  });
});
document.getElementById('ab').addEventListener('click', abSwitch);
document.addEventListener('keydown', e => { if (e.key === 'a' || e.key === 'A') abSwitch(); });
show();
</script>
)";
  return html;
}

// Round numbers for ticks: the first step of 1, 2 or 5 times a power of ten that leaves at most
// `count` ticks over `span`.
double tickStep(double span, int count) {
  double step = std::pow(10.0, std::floor(std::log10(std::max(span, 1e-9) / count)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (span / (step * factor) <= count) return step * factor;
  return step * 10.0;
}

// The spectrograms' PNG in an SVG frame: frequency ticks on the left of each half, time ticks
// below, and the colour scale of levels on the right.
std::string spectrogramFigure(const ReportContent& content, const std::vector<unsigned char>& png) {
  constexpr int kLeft = 64, kImageWidth = 800, kBottom = 34, kScaleWidth = 70, kTopGap = 22;
  const Spectrogram& input = *content.input;
  const double top = std::min(kHighestHz, input.sampleRate() / 2.0);
  const int halfHeight = kRows, height = kTopGap + 2 * kRows + kGap + kBottom;
  const int width = kLeft + kImageWidth + kScaleWidth;
  const double columns = static_cast<double>(
      std::max<std::size_t>(1, std::max(input.columnCount(), content.output->columnCount())));
  const double end = input.columnSeconds(columns);
  const double pixelsPerSecond = kImageWidth / end;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                    std::to_string(width) + " " + std::to_string(height) + "\">\n";
  svg += "<image x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kTopGap) +
         "\" width=\"" + std::to_string(kImageWidth) + "\" height=\"" +
         std::to_string(2 * kRows + kGap) +
         "\" preserveAspectRatio=\"none\" style=\"image-rendering:pixelated\" "
         "href=\"data:image/png;base64," +
         base64(png) + "\"/>\n";
  const auto line = [](double x1, double y1, double x2, double y2,
                       std::string_view colour = "#333") {
    return "<line x1=\"" + fixedText(x1, 1) + "\" y1=\"" + fixedText(y1, 1) + "\" x2=\"" +
           fixedText(x2, 1) + "\" y2=\"" + fixedText(y2, 1) + "\" stroke=\"" + std::string(colour) +
           "\"/>\n";
  };
  const auto label = [](double x, double y, const std::string& text, std::string_view anchor,
                        std::string_view colour = "#000") {
    return "<text x=\"" + fixedText(x, 1) + "\" y=\"" + fixedText(y, 1) + "\" text-anchor=\"" +
           std::string(anchor) + "\" fill=\"" + std::string(colour) + "\">" + text + "</text>\n";
  };
  for (int half = 0; half < 2; ++half) {
    const int y0 = kTopGap + half * (kRows + kGap);
    svg += label(kLeft + 4, y0 + 12, half == 0 ? "input" : "output", "start", "#fff");
    for (double hz : {100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
      if (hz > top) continue;
      const double y =
          y0 + halfHeight * (1.0 - std::log(hz / kLowestHz) / std::log(top / kLowestHz));
      svg += line(kLeft - 5, y, kLeft, y);
      svg += label(kLeft - 8, y + 4,
                   hz >= 1000.0 ? fixedText(hz / 1000.0, 0) + " kHz" : fixedText(hz, 0) + " Hz",
                   "end");
    }
  }
  const int axisY = kTopGap + 2 * kRows + kGap;
  const double step = tickStep(end, 10);
  for (double t = 0.0; t <= end + 1e-9; t += step) {
    const double x = kLeft + t * pixelsPerSecond;
    svg += line(x, axisY, x, axisY + 5);
    svg += label(x, axisY + 17, fixedText(t, step < 1.0 ? 1 : 0), "middle");
  }
  svg += label(kLeft + kImageWidth / 2.0, axisY + 31, "time (s)", "middle");
  // The level scale: the picture's colours from its floor to its top.
  const int scaleX = kLeft + kImageWidth + 12, scaleHeight = 2 * kRows + kGap;
  svg += "<defs><linearGradient id=\"levels\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
  for (int i = 0; i <= 8; ++i) {
    const Rgb c = colour(kFloorDb + (kTopDb - kFloorDb) * static_cast<float>(i) / 8.0f);
    svg += "<stop offset=\"" + fixedText(i / 8.0, 3) + "\" stop-color=\"rgb(" +
           std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")\"/>";
  }
  svg += "</linearGradient></defs>\n<rect x=\"" + std::to_string(scaleX) + "\" y=\"" +
         std::to_string(kTopGap) + "\" width=\"14\" height=\"" + std::to_string(scaleHeight) +
         "\" fill=\"url(#levels)\"/>\n";
  for (float db = kFloorDb; db <= kTopDb + 0.5f; db += 10.0f) {
    const double y = kTopGap + scaleHeight * (kTopDb - db) / (kTopDb - kFloorDb);
    svg += line(scaleX + 14, y, scaleX + 18, y);
    svg += label(scaleX + 20, y + 4, fixedText(db, 0), "start");
  }
  svg += label(scaleX, kTopGap - 4, "dBFS", "start");
  svg += "<g id=\"cursor\" data-pixels-per-second=\"" + fixedText(pixelsPerSecond, 4) + "\">" +
         line(kLeft, kTopGap, kLeft, axisY, "#0ff") + "</g>\n</svg>\n";
  return svg;
}

}  // namespace

void writeReport(const std::string& path, const ReportContent& content,
                 const std::string& pngPath) {
  const std::vector<unsigned char> png = spectrogramPng(*content.input, *content.output);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Vorlund: " +
      escaped(content.title) +
      "</title>\n<style>body{font-family:sans-serif;margin:2em;max-width:62em}"
      "figure{margin:0.5em 0}figcaption{font-weight:bold}pre{background:#f6f6f6;padding:1em}"
      "svg text{font-size:11px}audio{width:40em;vertical-align:middle}"
      "button{font-size:1.1em;padding:0.2em 1em}</style></head><body>\n";
  html += "<h1>What the effect did</h1>\n<p>" + escaped(content.title) + "</p>\n";
  html += players(content);
  html +=
      "<h2>Spectrograms</h2>\n<p>The input above the output: frequency on a logarithmic scale, "
      "time to the right, level by colour.</p>\n";
  html += spectrogramFigure(content, png);
  html += "<h2>Meters over time</h2>\n";
  struct Series {
    const char* key;
    const char* title;
    Bool32 ParameterBlock::*enabled;  // the stage's switch; none for measurements
  };
  constexpr Series kSeries[] = {
      {"noiseSuppressionDb", "noise suppression (dB)", &ParameterBlock::nsEnabled},
      {"gateGainDb", "gate (dB)", &ParameterBlock::gateEnabled},
      {"plosiveGainDb", "plosive suppressor (dB)", &ParameterBlock::plosiveEnabled},
      {"deEsserGainDb", "de-esser (dB)", &ParameterBlock::deEsserEnabled},
      {"compressorReductionDb", "compression (dB)", &ParameterBlock::compEnabled},
      {"agcGainDb", "AGC gain (dB)", &ParameterBlock::agcEnabled},
      {"limiterGainDb", "limiting (dB)", &ParameterBlock::limiterEnabled},
      {"inputBackgroundDb", "background (dBFS)", nullptr},
  };
  // A stage whose meter never left 0 dB did nothing to this recording.
  constexpr double kActedDb = 0.05;
  std::vector<std::string> idle;
  for (const Series& series : kSeries) {
    const std::size_t index = meterIndex(meterByKey(series.key));
    const auto value = [index](const StreamReading& r) {
      return static_cast<double>(r.meters[index]);
    };
    const bool off = series.enabled != nullptr && content.record != nullptr &&
                     content.record->*series.enabled == 0;
    const bool acted =
        series.enabled == nullptr ||
        std::any_of(content.meters.begin(), content.meters.end(),
                    [&](const MeterSample& s) { return std::fabs(value(s.reading)) > kActedDb; });
    if (off || !acted) {
      if (!content.meters.empty())
        idle.push_back(std::string(series.title, std::string_view(series.title).find(" (")) +
                       (off ? ": off" : ": no action"));
      continue;
    }
    html += plot(content.meters, series.title, value);
  }
  html += plot(content.meters, "voice activity (1: voice)",
               [](const StreamReading& r) { return r.voiceActive ? 1.0 : 0.0; });
  if (!idle.empty()) {
    html += "<p>Not plotted:</p>\n<ul>";
    for (const std::string& stage : idle) html += "<li>" + escaped(stage) + "</li>";
    html += "</ul>\n";
  }
  if (content.meters.empty()) html += "<p>The effect published no meters.</p>\n";
  html += "<h2>Summary</h2>\n<pre>" + escaped(content.summary) + "</pre>\n</body></html>\n";

  save(path, html.data(), html.size());
  if (!pngPath.empty()) save(pngPath, png.data(), png.size());
}

void writeSpectrograms(const std::string& path, const Spectrogram& input,
                       const Spectrogram& output) {
  const std::vector<unsigned char> png = spectrogramPng(input, output);
  save(path, png.data(), png.size());
}

}  // namespace vorlund
