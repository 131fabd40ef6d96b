#pragma once

#include <cmath>
#include <cstdint>

namespace zemlix {

// Real to integer, to nearest with ties to even (the default floating-point rounding mode,
// which the program never changes). Callers pass values well inside the 32-bit range.
inline int32_t Round(long double value) { return static_cast<int32_t>(std::lrintl(value)); }

}  // namespace zemlix
