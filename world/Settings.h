#pragma once

#include <cstdint>

namespace zemlix {

// The starting conditions' ranges, steps and defaults: the window's spin boxes, the headless
// runner's options and the tests all read them from here.
struct TSettingRange {
  int32_t Minimum;
  int32_t Maximum;
  int32_t Step;
  int32_t Default;
};

inline constexpr TSettingRange BugCountRange{5, 200, 5, 30};
inline constexpr TSettingRange FoodCountRange{5, 100, 5, 40};
inline constexpr TSettingRange LifetimeRange{500, 10000, 500, 2000};
inline constexpr TSettingRange WorldSpeedRange{0, 20, 1, 3};

// The field as the window lays it out: the world view's surface.
inline constexpr int32_t DefaultFieldWidth = 400;
inline constexpr int32_t DefaultFieldHeight = 400;

}  // namespace zemlix
