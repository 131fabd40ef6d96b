#include "ai/Sigmoid.h"

#include <emmintrin.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ai/PlainEvaluation.h"
#include "ai/SigmoidFast.h"

namespace zemlix {

// An extended constant: the double nearest 2.7183 would change many results.
constexpr long double SigmoidBase = 2.7183L;

double SigmoidReference(double Activation, double Response) {
  const long double exponent = -static_cast<long double>(Activation) / Response;
  return static_cast<double>(1.0L / (1.0L + std::pow(SigmoidBase, exponent)));
}

namespace {

// log2(2.7183L) = Log2BaseHi + Log2BaseLo to about 2^-75. Hi has 11 significant bits, so
// x * Log2BaseHi is exact in long double for every double x.
constexpr double Log2BaseHi = 0x1.714p+0;
constexpr long double Log2BaseLo = 0xa.8c1051d562ff4a7p-15L;
constexpr double Log2BaseTimes256 = static_cast<double>((Log2BaseHi + Log2BaseLo) * 256);
// ln 2 = Ln2Hi + Ln2Lo to about 2^-110.
constexpr double Ln2Hi = 0x1.62e42fefa39efp-1;
constexpr double Ln2Lo = 0x1.abc9e3b39803fp-56;

// 2^(i/256) = Hi + Lo to about 2^-106.
struct TExp2Entry {
  double Hi;
  double Lo;
};
const TExp2Entry Exp2Table[256] = {
#include "ai/Exp2Table.inc"
};

constexpr double FastActivationLimit = 32;

// 2^n for n = -64..63, exact.
constexpr std::array<double, 128> PowersOfTwo = [] {
  std::array<double, 128> powers{};
  double p = 1;
  for (int n = 0; n < 64; ++n, p *= 2) powers[64 + n] = p;
  p = 1;
  for (int n = 0; n <= 64; ++n, p /= 2) powers[64 - n] = p;
  return powers;
}();

// How far the C library's powl may be from PowerOfBase, relative: 2^-61 is at least 4 units
// in the last place. PowerOfBase is within 0.6 of them of the exact power, so powl may be
// off by up to 2.9 (the rounding of p +- spread below takes 0.5). Measured against 113-bit
// arithmetic, powl stays within 0.905 of them over 2e7 sampled exponents and every integer
// one in the fast range, and PowerOfBase within 0.514 (zemlix_mathcheck).
constexpr double PowerSpread = 0x1p-61;

// 1 / (1 + p) as the definition evaluates it, before its rounding to double. Each step is a
// correctly rounded, monotone operation.
long double ExtendedSigmoidOfPower(long double p) { return 1.0L / (1.0L + p); }

// Powers within PowerSpread of p give results within 12 units in the last place of
// y = ExtendedSigmoidOfPower(p): 8 from the spread, 2 from each of the two roundings. y rounds
// to double by its low 11 bits against the midpoint 0x400; if they are more than 16 away
// from it, every value within 16 units rounds to the same double (across a binade boundary
// too, where the nearest double is the power of two itself).
bool FarFromDoubleMidpoint(long double y) {
  uint64_t significand;
  std::memcpy(&significand, &y, sizeof significand);  // the x87 format's low 8 bytes
  const int64_t low = static_cast<int64_t>(significand & 0x7FF);
  return std::abs(low - 0x400) > 16;
}

}  // namespace

// 2.7183^x = 2^t with t = x log2(2.7183) = j/256 + r, |r| <= 2^-9 + 2^-37, and
// 2^t = 2^(j >> 8) * 2^((j & 255)/256) * (1 + q), q = 2^r - 1.
// Error budget, absolute on the mantissa in [0.99, 2):
//   t: x * Log2BaseHi and tHi - j/256 are exact; x * Log2BaseLo and the sum with it round
//      by at most 2^-69 + 2^-73, giving 2^-69.5 relative on the power;
//   q: r Ln2Hi in long double (2^-73.5); r Ln2Lo and the terms of degree 2..6 of e^w - 1,
//      w = r ln2, in double (|w| < 2^-9.5, so their sum is below 2^-20 and its double
//      error below 2^-70); the terms of degree 7 and up are below 2^-79;
//   table: Hi + Lo is 2^(i/256) to 2^-106; (Hi + Lo)(1 + q) is taken as
//      Hi + (Lo (1 + w) + Hi q), where Lo (1 + w), in double, is Lo (1 + q) to 2^-72 (|Lo| is
//      up to 2^-53, so Lo q itself, up to 2^-62.5, must not be left out); the products and
//      sums before the last addition round by less than 2^-71.
// So the mantissa is the exact one times (1 + e), |e| < 2^-67.5, rounded once: within 0.6
// units in its last place. Scaling by 2^n is exact in the fast range.
long double PowerOfBase(double x) {
  const int j = _mm_cvtsd_si32(_mm_set_sd(x * Log2BaseTimes256));
  const long double tHi = static_cast<long double>(x) * Log2BaseHi;
  const long double r = (tHi - j * 0x1p-8) + x * Log2BaseLo;
  const double rd = static_cast<double>(r);
  const double w = rd * Ln2Hi;
  // In pairs of terms rather than nested, for a shorter chain of dependent operations.
  const double w2 = w * w;
  const double smallTerms =
      rd * Ln2Lo + w2 * ((1.0 / 2 + w * (1.0 / 6)) + w2 * ((1.0 / 24 + w * (1.0 / 120)) + w2 * (1.0 / 720)));
  const long double q = r * Ln2Hi + smallTerms;
  const TExp2Entry& entry = Exp2Table[j & 255];
  const double tail = entry.Lo + entry.Lo * w;
  const long double mantissa = entry.Hi + (tail + entry.Hi * q);
  return mantissa * PowersOfTwo[64 + (j >> 8)];
}

// The fast range keeps |t| below 46.2, so the power never leaves the normal range and the
// result lies in [2^-47, 1).
bool SigmoidFast(double activation, double& result) {
  if (!(std::fabs(activation) <= FastActivationLimit)) return false;
  const long double power = PowerOfBase(-activation);
  const long double y = ExtendedSigmoidOfPower(power);
  if (FarFromDoubleMidpoint(y)) {
    result = static_cast<double>(y);
    return true;
  }
  // Closer to a midpoint: evaluate both ends of the bracket. If they give the same double,
  // so does every power between them, the C library's among them.
  const long double spread = power * PowerSpread;
  const double low = static_cast<double>(ExtendedSigmoidOfPower(power + spread));
  const double high = static_cast<double>(ExtendedSigmoidOfPower(power - spread));
  if (low != high) return false;
  result = low;
  return true;
}

double Sigmoid(double Activation, double Response) {
  // With Response 1 the exponent -Activation / Response is exactly -Activation.
  double result;
  if (Response == 1.0 && !PlainEvaluation() && SigmoidFast(Activation, result)) return result;
  return SigmoidReference(Activation, Response);
}

}  // namespace zemlix
