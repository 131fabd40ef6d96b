#pragma once

#include <cstdint>
#include <cstring>

namespace zemlix::testing {

// A double's bit pattern: comparing these tells -0 from +0 and matches a NaN only to a NaN.
inline uint64_t Bits(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

}  // namespace zemlix::testing
