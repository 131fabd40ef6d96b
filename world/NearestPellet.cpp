#include "world/NearestPellet.h"

#include <algorithm>

#include "ai/SigmoidBatch.h"
#include "world/AdvancedMathUnit.h"

namespace zemlix {

bool TLanePellets::Available() { return BatchKernel() != TBatchKernel::Portable; }

bool TLanePellets::Load(const TFood* food, int32_t count) {
  Count = count;
  X.resize(count);
  Y.resize(count);
  for (int32_t j = 0; j < count; ++j) {
    if (!TFoodGrid::InRange(food[j].X) || !TFoodGrid::InRange(food[j].Y)) return false;
    X[j] = food[j].X;
    Y[j] = food[j].Y;
  }
  return count > 0;
}

void TLanePellets::Nearest(const double* bugX, const double* bugY, int32_t count, int32_t* nearest,
                           double* leastSquare) const {
  constexpr int32_t Chunk = 256;  // so the second squares fit on the stack
  double second[Chunk];
  for (int32_t start = 0; start < count; start += Chunk) {
    const int32_t size = std::min(count - start, Chunk);
    if (BatchKernel() == TBatchKernel::Avx512)
      NearestPelletsAvx512(bugX + start, bugY + start, size, X.data(), Y.data(), Count, nearest + start,
                           leastSquare + start, second);
    else
      NearestPelletsAvx2(bugX + start, bugY + start, size, X.data(), Y.data(), Count, nearest + start,
                         leastSquare + start, second);
    for (int32_t k = 0; k < size; ++k) {
      // Usually no other pellet comes within the limit: then the least is the answer.
      const double limit = NearestSquareLimit(leastSquare[start + k]);
      if (second[k] > limit) continue;
      // Otherwise the plain scan over the pellets within it, in increasing index.
      const double x = bugX[start + k], y = bugY[start + k];
      int32_t best = -1;
      long double bestDistance = 0;
      for (int32_t j = 0; j < Count; ++j) {
        const double dx = X[j] - x, dy = Y[j] - y;
        if (!(dx * dx + dy * dy <= limit)) continue;
        const long double d = Distance(x, y, X[j], Y[j]);
        if (best < 0 || d < bestDistance) {
          best = j;
          bestDistance = d;
        }
      }
      nearest[start + k] = best;
    }
  }
}

}  // namespace zemlix
