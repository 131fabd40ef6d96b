#pragma once

#include <cstdint>
#include <vector>

#include "world/AdvancedMathUnit.h"
#include "world/FoodGrid.h"

namespace zemlix {

// The nearest pellet by the plain scan the faster searches must agree with: the extended
// Distance, ties to the lower index.
inline int32_t NearestFoodPlain(const std::vector<TFood>& food, double x, double y) {
  long double best = Distance(x, y, food[0].X, food[0].Y);
  int32_t nearest = 0;
  for (size_t j = 1; j < food.size(); ++j) {
    const long double d = Distance(x, y, food[j].X, food[j].Y);
    if (d < best) {
      best = d;
      nearest = static_cast<int32_t>(j);
    }
  }
  return nearest;
}

}  // namespace zemlix
