#include "base/StudentT.h"

#include <cmath>
#include <numbers>

namespace zemlix {
namespace {

// P(|T| < sqrt(n) tan(theta)) for n degrees of freedom, by Student's finite sums of
// positive terms (no cancellation, no gamma functions to lose digits in).
long double CentralProbability(long double theta, uint64_t n) {
  const long double c2 = std::cos(theta) * std::cos(theta), s = std::sin(theta);
  long double term = 1, sum = 1;
  if (n % 2 == 0) {
    for (uint64_t k = 2; k < n; k += 2) {
      term *= c2 * (k - 1) / k;
      sum += term;
    }
    return s * sum;
  }
  if (n == 1) return theta * 2 / std::numbers::pi_v<long double>;
  term = std::cos(theta);
  sum = term;
  for (uint64_t k = 3; k < n; k += 2) {
    term *= c2 * (k - 1) / k;
    sum += term;
  }
  return 2 / std::numbers::pi_v<long double> * (theta + s * sum);
}

// The standard normal p-quantile: Newton's method on the complementary error function.
long double NormalQuantile(long double p) {
  long double z = 0;
  for (int step = 0; step < 100; ++step) {
    const long double probability = std::erfc(-z / std::numbers::sqrt2_v<long double>) / 2;
    const long double density = std::exp(-z * z / 2) / std::sqrt(2 * std::numbers::pi_v<long double>);
    const long double next = z - (probability - p) / density;
    if (next == z) break;
    z = next;
  }
  return z;
}

}  // namespace

double StudentTQuantile(long double p, uint64_t degreesOfFreedom) {
  const long double n = static_cast<long double>(degreesOfFreedom);
  const long double central = 2 * p - 1;
  // Beyond a few thousand degrees of freedom the Cornish-Fisher expansion's first omitted
  // term is below 10^-17 of t, and the finite sums grow long.
  if (degreesOfFreedom > 2000) {
    const long double z = NormalQuantile(p), z2 = z * z;
    const long double terms[] = {
        z,
        (z2 + 1) * z / 4,
        ((5 * z2 + 16) * z2 + 3) * z / 96,
        (((3 * z2 + 19) * z2 + 17) * z2 - 15) * z / 384,
        ((((79 * z2 + 776) * z2 + 1482) * z2 - 1920) * z2 - 945) * z / 92160,
    };
    long double t = 0, power = 1;
    for (long double term : terms) {
      t += term / power;
      power *= n;
    }
    return static_cast<double>(t);
  }
  // Bisection on the angle, where the probability is monotone on a finite interval.
  long double low = 0, high = std::numbers::pi_v<long double> / 2;
  for (int step = 0; step < 200; ++step) {
    const long double middle = (low + high) / 2;
    if (middle == low || middle == high) break;
    (CentralProbability(middle, degreesOfFreedom) < central ? low : high) = middle;
  }
  return static_cast<double>(std::sqrt(n) * std::tan((low + high) / 2));
}

}  // namespace zemlix
