#include "fuzz/SlowFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zemlix::fuzzing {
namespace {

// An unsigned integer in base 10^9, least significant limb first.
class TBigDecimal {
 public:
  explicit TBigDecimal(uint64_t value) {
    do {
      Limbs_.push_back(static_cast<uint32_t>(value % Base));
      value /= Base;
    } while (value != 0);
  }

  void MultiplyBy(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : Limbs_) {
      const uint64_t product = uint64_t{limb} * factor + carry;
      limb = static_cast<uint32_t>(product % Base);
      carry = product / Base;
    }
    while (carry != 0) {
      Limbs_.push_back(static_cast<uint32_t>(carry % Base));
      carry /= Base;
    }
  }

  std::string Digits() const {
    std::string text = std::to_string(Limbs_.back());
    for (size_t i = Limbs_.size() - 1; i-- > 0;) {
      const std::string limb = std::to_string(Limbs_[i]);
      text += std::string(9 - limb.size(), '0') + limb;
    }
    return text;
  }

 private:
  static constexpr uint64_t Base = 1000000000;
  std::vector<uint32_t> Limbs_;
};

// |value| exactly as digits D with value = D x 10^-fractionDigits.
void ExactDecimal(double magnitude, std::string& digits, int& fractionDigits) {
  uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t significand = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // value = significand x 2^exponent
  if (biasedExponent != 0) {
    significand |= uint64_t{1} << 52;
    exponent = biasedExponent - 1075;
  }
  TBigDecimal number(significand);
  if (exponent >= 0) {
    for (int left = exponent; left > 0; left -= 30) number.MultiplyBy(uint32_t{1} << std::min(left, 30));
    fractionDigits = 0;
  } else {
    // m / 2^k = m x 5^k / 10^k
    for (int left = -exponent; left > 0; left -= 13) {
      uint32_t power = 1;
      for (int i = 0; i < std::min(left, 13); ++i) power *= 5;
      number.MultiplyBy(power);
    }
    fractionDigits = -exponent;
  }
  digits = number.Digits();
}

}  // namespace

std::string SlowFormatFixed(double value, int precision, int decimals) {
  std::string digits;
  int fractionDigits = 0;
  ExactDecimal(std::fabs(value), digits, fractionDigits);

  // digits[i] stands for 10^(power of the last digit + (size - 1 - i)).
  const int lastPower = -fractionDigits;
  const size_t first = digits.find_first_not_of('0');
  // The rounded value is kept as an integer count of 10^keepPower.
  std::string kept = "0";
  int keepPower = -decimals;
  if (first != std::string::npos) {
    const int firstPower = lastPower + static_cast<int>(digits.size() - 1 - first);
    keepPower = std::max(firstPower - precision + 1, -decimals);
    // Digits at powers >= keepPower, and the one just below decides the rounding.
    const auto digitAt = [&](int power) -> int {
      const long index = static_cast<long>(digits.size()) - 1 - (power - lastPower);
      if (power < lastPower || index < 0) return 0;
      return digits[index] - '0';
    };
    kept.clear();
    for (int power = std::max(firstPower, keepPower); power >= keepPower; --power)
      kept.push_back(static_cast<char>('0' + digitAt(power)));
    if (digitAt(keepPower - 1) >= 5) {
      size_t i = kept.size();
      while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
      if (i == 0)
        kept.insert(kept.begin(), '1');
      else
        ++kept[i - 1];
    }
    kept.erase(0, std::min(kept.find_first_not_of('0'), kept.size()));
    if (kept.empty()) kept = "0";
  }

  const bool zero = kept == "0";
  const std::string sign = (value < 0 && !zero) ? "-" : "";
  const int integerDigits = zero ? 0 : std::max(0, static_cast<int>(kept.size()) + keepPower);
  if (integerDigits <= precision) {
    // kept x 10^keepPower with keepPower >= -decimals: pad to exactly `decimals` decimals.
    std::string scaled = kept + std::string(keepPower + decimals, '0');
    if (static_cast<int>(scaled.size()) < decimals + 1) scaled.insert(0, decimals + 1 - scaled.size(), '0');
    std::string text = sign + scaled.substr(0, scaled.size() - decimals);
    if (decimals > 0) text += "." + scaled.substr(scaled.size() - decimals);
    return text;
  }
  std::string significant = kept.substr(0, kept.find_last_not_of('0') + 1);
  std::string text = sign + significant.substr(0, 1);
  if (significant.size() > 1) text += "." + significant.substr(1);
  return text + "E" + std::to_string(static_cast<int>(kept.size()) - 1 + keepPower);
}

}  // namespace zemlix::fuzzing
