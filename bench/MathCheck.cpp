// Measures what the fast paths' error bounds rest on, against 113-bit arithmetic
// (libquadmath, used here only): the C library's powl, sinl and cosl errors in units in the
// last place, the error of PowerOfBase, and how often each fast path leaves the decision to
// the C library.
//   zemlix_mathcheck [samples, default 10000000]
#include <quadmath.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "ai/SigmoidFast.h"
#include "world/LookVectorFast.h"

namespace {

// A unit in the last place of a long double of the magnitude of v.
__float128 Ulp(__float128 v) {
  int exponent;
  frexpq(v, &exponent);
  return ldexpq(1, exponent - 64);
}

double UlpError(long double value, __float128 exact) {
  if (exact == 0) return value == 0 ? 0 : INFINITY;
  return static_cast<double>(fabsq(static_cast<__float128>(value) - exact) / Ulp(exact));
}

struct TWorst {
  double Error = 0;
  double Where = 0;
  void Note(double error, double where) {
    if (error > Error) Error = error, Where = where;
  }
};

const __float128 Base = static_cast<__float128>(2.7183L);

}  // namespace

int main(int argc, char** argv) {
  const long samples = argc > 1 ? std::atol(argv[1]) : 10000000;
  std::mt19937_64 random(1);
  std::uniform_real_distribution<double> exponents(-32, 32), network(-10, 10), headings(-7, 7), near(-1, 1);

  TWorst powl, power, sinl, cosl, fastSin, fastCos;
  // The fast sine and cosine against their own error bounds: a ratio above 1 breaks them.
  const auto noteFast = [&](double h) {
    const zemlix::TSineCosine v = zemlix::FastSineCosine(h);
    fastSin.Note(static_cast<double>(fabsq(static_cast<__float128>(v.Sin) - sinq(h)) / v.SinError), h);
    fastCos.Note(static_cast<double>(fabsq(static_cast<__float128>(v.Cos) - cosq(h)) / v.CosError), h);
  };
  for (long i = 0; i < samples; ++i) {
    const double x = exponents(random);
    const __float128 exact = powq(Base, x);
    powl.Note(UlpError(std::pow(2.7183L, static_cast<long double>(x)), exact), x);
    power.Note(UlpError(zemlix::PowerOfBase(x), exact), x);
    const double h = headings(random);
    sinl.Note(UlpError(std::sin(static_cast<long double>(h)), sinq(h)), h);
    cosl.Note(UlpError(std::cos(static_cast<long double>(h)), cosq(h)), h);
    noteFast(h);
  }
  // Integer exponents (a separate path in glibc's powl) and headings near every zero of sine
  // and cosine, where a result's last place is smallest.
  for (int n = -32; n <= 32; ++n) {
    powl.Note(UlpError(std::pow(2.7183L, static_cast<long double>(n)), powq(Base, n)), n);
    power.Note(UlpError(zemlix::PowerOfBase(n), powq(Base, n)), n);
  }
  for (int k = -4; k <= 4; ++k) {
    const double zero = static_cast<double>(k * 1.5707963267948966192L);
    for (long i = 0; i < samples / 100; ++i) {
      const double h = zero + near(random) * std::ldexp(1.0, -static_cast<int>(random() % 50));
      if (std::fabs(h) > 7) continue;
      sinl.Note(UlpError(std::sin(static_cast<long double>(h)), sinq(h)), h);
      cosl.Note(UlpError(std::cos(static_cast<long double>(h)), cosq(h)), h);
      noteFast(h);
    }
  }
  std::printf("max error in units in the last place of long double, %ld samples:\n", samples);
  std::printf("  powl(2.7183L, x), |x| <= 32:  %.4f at x = %a\n", powl.Error, powl.Where);
  std::printf("  PowerOfBase(x), |x| <= 32:    %.4f at x = %a\n", power.Error, power.Where);
  std::printf("  sinl(h), |h| <= 7:            %.4f at h = %a\n", sinl.Error, sinl.Where);
  std::printf("  cosl(h), |h| <= 7:            %.4f at h = %a\n", cosl.Error, cosl.Where);
  std::printf("fast sine and cosine, largest error over its own bound (must stay below 1):\n");
  std::printf("  sin %.4f at h = %a, cos %.4f at h = %a\n", fastSin.Error, fastSin.Where, fastCos.Error,
              fastCos.Where);

  long sigmoidUndecided = 0, lookUndecided = 0;
  for (long i = 0; i < samples; ++i) {
    double result, x, y;
    if (!zemlix::SigmoidFast(network(random), result)) ++sigmoidUndecided;
    if (!zemlix::LookVectorFast(headings(random) * (6.6 / 7), x, y)) ++lookUndecided;
  }
  std::printf("left to the C library: Sigmoid (|a| < 10) %.4f %%, LookVector (|h| < 6.6) %.4f %%\n",
              100.0 * sigmoidUndecided / samples, 100.0 * lookUndecided / samples);
  return 0;
}
