#include "common/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vorlund {

std::string fixedText(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  std::array<char, 400> text;
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  std::string result(text.data());
  // A small negative value rounds to "-0.0"; zero has no sign for a reader.
  if (result.front() == '-' && result.find_first_not_of("-0.") == std::string::npos)
    result.erase(0, 1);
  return result;
}

std::string shortestText(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // The text form carries a record bit for bit, so a negative zero keeps its sign here.
  if (value == 0.0f) return std::signbit(value) ? "-0" : "0";
  std::array<char, 64> text;
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return std::string(text.data(), result.ptr);
}

}  // namespace vorlund
