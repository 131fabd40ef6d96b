#include "base/FormatFixed.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zemlix {
namespace {

// Significant decimal digits of |value| and the power of ten of the first one
// (|value| = 0.d0 d1 d2 ... x 10^(exponent + 1)).
struct Digits {
  std::string text;
  int exponent = 0;
};

Digits DecimalDigits(double magnitude, int count) {
  // printf's conversion is exact up to the digits asked for, rounded at the last one.
  std::string buffer(count + 16, '\0');
  const int length = std::snprintf(buffer.data(), buffer.size(), "%.*e", count - 1, magnitude);
  buffer.resize(length);
  Digits digits;
  const auto e = buffer.find('e');
  digits.text.push_back(buffer[0]);
  digits.text.append(buffer, 2, e - 2);
  digits.exponent = std::atoi(buffer.c_str() + e + 1);
  return digits;
}

// Keeps `keep` leading digits, rounding half up on the digits dropped. The result is
// value = mantissa x 10^scale with mantissa an integer written without leading zeros.
void RoundHalfUp(const Digits& digits, int keep, std::string& mantissa, int& scale) {
  scale = digits.exponent + 1 - keep;
  if (keep < 0) {
    mantissa.assign(1, '0');
    return;
  }
  mantissa = digits.text.substr(0, keep);
  // All digits were asked for when `keep` goes past the first 40, so any beyond them are zeros.
  if (static_cast<int>(mantissa.size()) < keep) mantissa.resize(keep, '0');
  if (keep < static_cast<int>(digits.text.size()) && digits.text[keep] >= '5') {
    int i = keep - 1;
    while (i >= 0 && mantissa[i] == '9') mantissa[i--] = '0';
    if (i >= 0)
      ++mantissa[i];
    else
      mantissa = '1' + mantissa;
  }
  mantissa.erase(0, std::min(mantissa.find_first_not_of('0'), mantissa.size()));
  if (mantissa.empty()) mantissa.assign(1, '0');
}

}  // namespace

std::string FormatFixed(double value, int precision, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  precision = std::max(precision, 1);
  decimals = std::max(decimals, 0);

  std::string mantissa = "0";
  int scale = -decimals;
  const double magnitude = std::fabs(value);
  if (magnitude != 0) {
    // 40 digits decide the rounding unless more are kept, or printf's own rounding at the
    // 40th digit could have carried into the digit that decides; then take all digits (a
    // double has at most 767 significant ones), which printf gives exactly.
    Digits digits = DecimalDigits(magnitude, 40);
    const int keep = std::min(precision, digits.exponent + 1 + decimals);
    if (keep >= 0 && (keep >= 39 || digits.text.find_first_not_of('0', keep + 1) == std::string::npos))
      digits = DecimalDigits(magnitude, 800);
    RoundHalfUp(digits, keep, mantissa, scale);
  }

  std::string text = (value < 0 && mantissa != "0") ? "-" : "";
  const int integerDigits = mantissa == "0" ? 0 : static_cast<int>(mantissa.size()) + scale;
  if (integerDigits <= precision) {
    // value x 10^decimals is the integer mantissa x 10^(scale + decimals), scale >= -decimals.
    std::string scaled = mantissa == "0" ? "0" : mantissa + std::string(scale + decimals, '0');
    if (static_cast<int>(scaled.size()) < decimals + 1)
      scaled = std::string(decimals + 1 - scaled.size(), '0') + scaled;
    text += scaled.substr(0, scaled.size() - decimals);
    if (decimals > 0) text.append(1, '.').append(scaled, scaled.size() - decimals);
    return text;
  }
  const std::string significant = mantissa.substr(0, mantissa.find_last_not_of('0') + 1);
  text += significant.substr(0, 1);
  if (significant.size() > 1) text.append(1, '.').append(significant, 1);
  return text.append(1, 'E').append(std::to_string(static_cast<int>(mantissa.size()) + scale - 1));
}

}  // namespace zemlix
