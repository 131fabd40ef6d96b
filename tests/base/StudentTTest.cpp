#include <gtest/gtest.h>

#include <cmath>

#include "base/StudentT.h"

namespace zemlix {
namespace {

TEST(StudentT, QuantilesAreRightToTheLastDigits) {
  // Reference values from the regularised incomplete beta function at 40 digits.
  const struct {
    uint64_t DegreesOfFreedom;
    double Quantile;
  } cases[] = {
      {1, 12.706204736174704647},   {2, 4.3026527297494638523},   {3, 3.1824463052837095927},
      {4, 2.7764451051977943578},   {5, 2.5705818356363155147},   {7, 2.3646242515927853417},
      {10, 2.2281388519862747484},  {30, 2.04227245630123831},    {100, 1.9839715185235522866},
      {999, 1.9623414611334499787}, {1000, 1.962339080826408485}, {1001, 1.9623367052808799185},
      {5000, 1.9604385517065079186}, {100000, 1.9599877075346096386}, {1000000000, 1.9599639869123254686},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(StudentTQuantile(0.975L, c.DegreesOfFreedom), c.Quantile, 3e-16 * c.Quantile) << c.DegreesOfFreedom;
}

}  // namespace
}  // namespace zemlix
