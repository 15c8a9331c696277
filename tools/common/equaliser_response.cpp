#include "common/equaliser_response.h"

#include <cmath>
#include <complex>
#include <numbers>

#include "chain/equalizer.h"
#include "chain/stage_settings.h"

namespace vorlund {

std::vector<ResponsePoint> equaliserResponse(const ParameterBlock& record, double sampleRate,
                                             double lowHz, double highHz, int count) {
  Equalizer equalizer;
  equalizer.prepare(sampleRate);
  equalizer.configure(equalizerSettings(record));
  BiquadSection* sections[Equalizer::kMaxSections];
  const int sectionCount = record.eqEnabled != 0 ? equalizer.activeSections(sections) : 0;

  std::vector<ResponsePoint> points;
  points.reserve(static_cast<std::size_t>(count));
  const double ratio = std::log(highHz / lowHz);
  for (int i = 0; i < count; ++i) {
    const double f = lowHz * std::exp(ratio * i / (count - 1));
    // H(z) of each section at z = e^(jw), multiplied: b0 + b1 z^-1 + b2 z^-2 over 1 + a1 z^-1 + a2
    // z^-2.
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * f / sampleRate);
    const std::complex<double> z2 = z1 * z1;
    std::complex<double> h = 1.0;
    for (int s = 0; s < sectionCount; ++s) {
      const BiquadSection& q = *sections[s];
      h *= (double(q.b0) + double(q.b1) * z1 + double(q.b2) * z2) /
           (1.0 + double(q.a1) * z1 + double(q.a2) * z2);
    }
    points.push_back({f, 20.0 * std::log10(std::max(std::abs(h), 1e-12))});
  }
  return points;
}

}  // namespace vorlund
