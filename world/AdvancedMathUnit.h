#pragma once

#include <cmath>
#include <cstdint>

#include "base/Rounding.h"

namespace zemlix {

// Angle and distance helpers of the world and its views. The constants are extended ones:
// rounding them to double first would change results.
constexpr long double Pi2 = 6.283185307179586477L;

inline long double DegToRad(long double degrees) { return degrees * 0.0174532925199432958L; }
inline long double RadToDeg(long double radians) { return radians * 57.2957795130823209L; }

// Whole degrees to the sprite layer's 256 steps per turn (positive clockwise on screen).
inline int32_t DegTo256(int32_t degrees) {
  return degrees == 0 ? 0 : Round(static_cast<long double>(degrees) / 360 * 256);
}

// Euclidean distance in extended precision; never rounded to double by its callers.
inline long double Distance(long double x1, long double y1, long double x2, long double y2) {
  const long double dx = x2 - x1;
  const long double dy = y2 - y1;
  return std::sqrt(dx * dx + dy * dy);
}

}  // namespace zemlix
