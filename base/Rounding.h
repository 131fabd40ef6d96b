#pragma once

#include <cmath>
#include <cstdint>

namespace zemlix {

// Real to integer, to nearest with ties to even (the default floating-point rounding mode,
// which the program never changes). Callers pass values well inside the 32-bit range.
inline int32_t Round(long double value) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // What lrintl does, without the call into libm: a frame rounds about a thousand values.
  long long result;
  asm("fistpll %0" : "=m"(result) : "t"(value) : "st");
  return static_cast<int32_t>(result);
#else
  return static_cast<int32_t>(std::lrintl(value));
#endif
}

}  // namespace zemlix
