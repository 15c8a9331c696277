// Layer: signal
#include "chain/biquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "chain/fast_math.h"
namespace vorlund {

void designBiquad(BiquadSection& s, FilterType type, double sampleRate, double frequency,
                  double gainDb, double q) noexcept {
  if (!(sampleRate > 0.0)) {
    s.setIdentity();
    return;
  }
  const double a = designExp10(gainDb / 40.0);
  const double qc = std::max(q, 0.05);
  const double f = std::min(0.49 * sampleRate, std::max(5.0, frequency));
  const double w0 = 2.0 * std::numbers::pi * f / sampleRate;
  const double c = designCos(w0);
  const double sn = designSin(w0);
  const double alpha = sn / (2.0 * qc);
  const double r = std::sqrt(a);

  double b0, b1, b2, a0, a1, a2;
  switch (type) {
    case FilterType::Peaking:
      b0 = 1.0 + alpha * a;
      b1 = -2.0 * c;
      b2 = 1.0 - alpha * a;
      a0 = 1.0 + alpha / a;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha / a;
      break;
    case FilterType::LowShelf:
      b0 = a * ((a + 1.0) - (a - 1.0) * c + 2.0 * r * alpha);
      b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * c);
      b2 = a * ((a + 1.0) - (a - 1.0) * c - 2.0 * r * alpha);
      a0 = (a + 1.0) + (a - 1.0) * c + 2.0 * r * alpha;
      a1 = -2.0 * ((a - 1.0) + (a + 1.0) * c);
      a2 = (a + 1.0) + (a - 1.0) * c - 2.0 * r * alpha;
      break;
    case FilterType::HighShelf:
      b0 = a * ((a + 1.0) + (a - 1.0) * c + 2.0 * r * alpha);
      b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * c);
      b2 = a * ((a + 1.0) + (a - 1.0) * c - 2.0 * r * alpha);
      a0 = (a + 1.0) - (a - 1.0) * c + 2.0 * r * alpha;
      a1 = 2.0 * ((a - 1.0) - (a + 1.0) * c);
      a2 = (a + 1.0) - (a - 1.0) * c - 2.0 * r * alpha;
      break;
    case FilterType::LowPass:
      b0 = (1.0 - c) / 2.0;
      b1 = 1.0 - c;
      b2 = (1.0 - c) / 2.0;
      a0 = 1.0 + alpha;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha;
      break;
    case FilterType::HighPass:
      b0 = (1.0 + c) / 2.0;
      b1 = -(1.0 + c);
      b2 = (1.0 + c) / 2.0;
      a0 = 1.0 + alpha;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha;
      break;
    case FilterType::Notch:
      b0 = 1.0;
      b1 = -2.0 * c;
      b2 = 1.0;
      a0 = 1.0 + alpha;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha;
      break;
    case FilterType::BandPass:
      b0 = alpha;
      b1 = 0.0;
      b2 = -alpha;
      a0 = 1.0 + alpha;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha;
      break;
    case FilterType::AllPass:
      b0 = 1.0 - alpha;
      b1 = -2.0 * c;
      b2 = 1.0 + alpha;
      a0 = 1.0 + alpha;
      a1 = -2.0 * c;
      a2 = 1.0 - alpha;
      break;
    default:
      s.setIdentity();
      return;
  }
  s.b0 = static_cast<float>(b0 / a0);
  s.b1 = static_cast<float>(b1 / a0);
  s.b2 = static_cast<float>(b2 / a0);
  s.a1 = static_cast<float>(a1 / a0);
  s.a2 = static_cast<float>(a2 / a0);
}

void designBiquad(BiquadSection& section, int type, double sampleRate, double frequency,
                  double gainDb, double q) noexcept {
  designBiquad(section, static_cast<FilterType>(type), sampleRate, frequency, gainDb, q);
}

float smoothingCoefficient(double timeMs, double sampleRate) noexcept {
  if (!(timeMs > 0.0) || !(sampleRate > 0.0)) return 0.0f;
  return static_cast<float>(designExp(-1000.0 / (timeMs * sampleRate)));
}

}  // namespace vorlund
