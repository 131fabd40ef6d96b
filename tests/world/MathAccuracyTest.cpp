// The error bounds that the fast paths' proofs rest on, measured against 113-bit arithmetic
// (libquadmath): the C library's powl, sinl and cosl, and the fast paths' own evaluations.
// A C library or an edit of PowerOfBase or FastSineCosine that breaks a bound fails here,
// even where every result still happens to match.
#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "ai/SigmoidFast.h"
#include "world/LookVectorFast.h"

namespace zemlix {
namespace {

// The bounds, in units in the last place of long double. SigmoidFast's bracket takes powl
// within 2.9 of the exact power (the batched Sigmoid needs only 4) and PowerOfBase within
// 0.6; LookVectorFast takes sinl and cosl within 4; FastSineCosine must stay within its own
// error bound.
constexpr double PowlLimit = 2.9;
constexpr double PowerOfBaseLimit = 0.6;
constexpr double SineCosineLimit = 4.0;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
constexpr int Samples = 40000;
#else
constexpr int Samples = 300000;
#endif

__float128 Ulp(__float128 v) {
  int exponent;
  frexpq(v, &exponent);
  return ldexpq(1, exponent - 64);
}

double UlpError(long double value, __float128 exact) {
  return static_cast<double>(fabsq(static_cast<__float128>(value) - exact) / Ulp(exact));
}

struct TWorst {
  double Error = 0;
  double Where = 0;
  void Note(double error, double where) {
    if (error > Error) Error = error, Where = where;
  }
};

TEST(MathAccuracy, PowerStaysWithinTheBracketsBounds) {
  const __float128 base = static_cast<__float128>(2.7183L);
  std::mt19937_64 random(1);
  std::uniform_real_distribution<double> exponents(-32, 32);
  TWorst powl, power;
  const auto note = [&](double x) {
    const __float128 exact = powq(base, x);
    powl.Note(UlpError(std::pow(2.7183L, static_cast<long double>(x)), exact), x);
    power.Note(UlpError(PowerOfBase(x), exact), x);
  };
  for (int i = 0; i < Samples; ++i) note(exponents(random));
  for (int n = -32; n <= 32; ++n) note(n);  // glibc's powl takes a separate path for integers
  EXPECT_LE(powl.Error, PowlLimit) << std::hexfloat << "powl at x = " << powl.Where;
  EXPECT_LE(power.Error, PowerOfBaseLimit) << std::hexfloat << "PowerOfBase at x = " << power.Where;
  std::printf("[   INFO   ] largest error: powl %.3f, PowerOfBase %.3f units in the last place\n", powl.Error,
              power.Error);
}

TEST(MathAccuracy, SineAndCosineStayWithinTheLookVectorsBounds) {
  std::mt19937_64 random(2);
  std::uniform_real_distribution<double> headings(-7, 7), near(-1, 1);
  TWorst sinl, cosl, fastSin, fastCos;
  const auto note = [&](double h) {
    const __float128 s = sinq(h), c = cosq(h);
    sinl.Note(UlpError(std::sin(static_cast<long double>(h)), s), h);
    cosl.Note(UlpError(std::cos(static_cast<long double>(h)), c), h);
    const TSineCosine v = FastSineCosine(h);
    fastSin.Note(static_cast<double>(fabsq(static_cast<__float128>(v.Sin) - s) / v.SinError), h);
    fastCos.Note(static_cast<double>(fabsq(static_cast<__float128>(v.Cos) - c) / v.CosError), h);
  };
  for (int i = 0; i < Samples; ++i) note(headings(random));
  // Around every zero of sine and cosine, where a result's last place is smallest.
  for (int k = -4; k <= 4; ++k) {
    const double zero = static_cast<double>(k * 1.5707963267948966192L);
    for (int i = 0; i < Samples / 50; ++i) {
      const double h = zero + near(random) * std::ldexp(1.0, -static_cast<int>(random() % 50));
      if (std::fabs(h) <= 7) note(h);
    }
  }
  EXPECT_LE(sinl.Error, SineCosineLimit) << std::hexfloat << "sinl at h = " << sinl.Where;
  EXPECT_LE(cosl.Error, SineCosineLimit) << std::hexfloat << "cosl at h = " << cosl.Where;
  EXPECT_LT(fastSin.Error, 1.0) << std::hexfloat << "FastSineCosine's sine at h = " << fastSin.Where;
  EXPECT_LT(fastCos.Error, 1.0) << std::hexfloat << "FastSineCosine's cosine at h = " << fastCos.Where;
  std::printf("[   INFO   ] largest error: sinl %.3f, cosl %.3f units; fast sine %.3f, cosine %.3f of their bounds\n",
              sinl.Error, cosl.Error, fastSin.Error, fastCos.Error);
}

}  // namespace
}  // namespace zemlix
