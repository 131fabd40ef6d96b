#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace zemlix::testing {

// The mean absolute difference of two pictures' 0xAARRGGBB pixels over their red, green and
// blue channels, in channel units (0 to 255): how far a lossy encoding moved them.
inline double MeanDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift : {0, 8, 16}) sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
  return sum / (3.0 * a.size());
}

}  // namespace zemlix::testing
