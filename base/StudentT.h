#pragma once

#include <cstdint>

namespace zemlix {

// The p-quantile of Student's t distribution with `degreesOfFreedom` (at least 1), for p
// in [0.5, 1) (a long double, so that 0.975L is 0.975 to far more digits than t needs):
// the t that a confidence interval of level 2p - 1 reaches. Correct to about
// one unit in the last place of a double, so published intervals do not depend on a
// rounded table.
double StudentTQuantile(long double p, uint64_t degreesOfFreedom);

}  // namespace zemlix
