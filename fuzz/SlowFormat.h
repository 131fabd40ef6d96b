#pragma once

#include <string>

namespace zemlix::fuzzing {

// FormatFixed's rules computed the slow way, sharing no code with it: the double's exact
// value as a decimal digit string from big-integer arithmetic, rounded half up at the
// tighter of `precision` significant digits and `decimals` decimals, then laid out fixed or
// scientific. Finite values only; precision >= 1, decimals >= 0.
std::string SlowFormatFixed(double value, int precision, int decimals);

}  // namespace zemlix::fuzzing
