#include "world/NearestPellet.h"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "ai/SigmoidBatch.h"
#include "world/AdvancedMathUnit.h"

namespace zemlix {

bool TLanePellets::Available() { return BatchKernel() != TBatchKernel::Portable; }

bool TLanePellets::Load(const TFood* food, int32_t count) {
  // Between two loads only the pellets eaten have moved, often none.
  bool moved = count != Count;
  Count = count;
  X.resize(count);
  Y.resize(count);
  for (int32_t j = 0; j < count; ++j) {
    if (!TFoodGrid::InRange(food[j].X) || !TFoodGrid::InRange(food[j].Y)) {
      Count = -1;  // so the next load sorts again
      return false;
    }
    moved = moved || X[j] != food[j].X || Y[j] != food[j].Y;
    X[j] = food[j].X;
    Y[j] = food[j].Y;
  }
  if (count <= 0) return false;
  if (!moved) return true;
  if (static_cast<int32_t>(Order.size()) != count) {
    Order.resize(count);
    std::iota(Order.begin(), Order.end(), 0);
  }
  // Insertion sort from the last order: about one pass when few pellets moved.
  for (int32_t i = 1; i < count; ++i) {
    const int32_t pellet = Order[i];
    int32_t k = i;
    for (; k > 0 && X[Order[k - 1]] > X[pellet]; --k) Order[k] = Order[k - 1];
    Order[k] = pellet;
  }
  SortedX.resize(count);
  SortedY.resize(count);
  SortedIndex.resize(count);
  for (int32_t i = 0; i < count; ++i) {
    SortedX[i] = X[Order[i]];
    SortedY[i] = Y[Order[i]];
    SortedIndex[i] = Order[i];
  }
  return true;
}

void TLanePellets::Nearest(const double* bugX, const double* bugY, int32_t count, int32_t* nearest,
                           double* leastSquare) const {
  constexpr int32_t Chunk = 256;  // so the working lists fit on the stack
  constexpr int32_t Buckets = 64;
  int32_t order[Chunk], strips[Chunk], found[Chunk], firstOf[Buckets + 1];
  double x[Chunk], y[Chunk], least[Chunk], second[Chunk];
  for (int32_t start = 0; start < count; start += Chunk) {
    const int32_t size = std::min(count - start, Chunk);
    const double* const bx = bugX + start;
    const double* const by = bugY + start;
    // The bugs roughly in order of x (a counting sort on 64 strips), so that each group of
    // lanes meets few pellets.
    const auto [low, high] = std::minmax_element(bx, bx + size);
    const double span = *high - *low;
    const double scale = span > 0x1p-900 ? (Buckets - 0x1p-4) / span : 0;
    std::fill(std::begin(firstOf), std::end(firstOf), 0);
    for (int32_t k = 0; k < size; ++k) {
      strips[k] = static_cast<int32_t>((bx[k] - *low) * scale);
      ++firstOf[strips[k] + 1];
    }
    for (int32_t b = 0; b < Buckets; ++b) firstOf[b + 1] += firstOf[b];
    for (int32_t k = 0; k < size; ++k) {
      const int32_t i = firstOf[strips[k]]++;
      order[i] = k;
      x[i] = bx[k];
      y[i] = by[k];
    }
    const auto kernel = BatchKernel() == TBatchKernel::Avx512 ? NearestPelletsAvx512 : NearestPelletsAvx2;
    kernel(x, y, size, SortedX.data(), SortedY.data(), SortedIndex.data(), Count, found, least, second);
    for (int32_t i = 0; i < size; ++i) {
      const int32_t k = start + order[i];
      leastSquare[k] = least[i];
      nearest[k] = found[i];
      // Usually no other pellet comes within the limit: then the least is the answer.
      const double limit = NearestSquareLimit(least[i]);
      if (second[i] > limit) continue;
      // Otherwise the plain scan over the pellets within it, in increasing index.
      int32_t best = -1;
      long double bestDistance = 0;
      for (int32_t j = 0; j < Count; ++j) {
        const double dx = X[j] - x[i], dy = Y[j] - y[i];
        if (!(dx * dx + dy * dy <= limit)) continue;
        const long double d = Distance(x[i], y[i], X[j], Y[j]);
        if (best < 0 || d < bestDistance) {
          best = j;
          bestDistance = d;
        }
      }
      nearest[k] = best;
    }
  }
}

}  // namespace zemlix
