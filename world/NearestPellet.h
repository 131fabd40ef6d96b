#pragma once

#include <cstdint>
#include <vector>

#include "world/FoodGrid.h"

namespace zemlix {

// Squared distances in double stand in for the extended Distance wherever they can decide:
// these are the bounds that make them exact.
//
// Squared distances in double, Sd, against the extended ones, Sl, that Distance takes the
// root of, both from the exact S of the double coordinates: Sd = S (1 + e), |e| <= 2^-51,
// Sl = S (1 + e'), |e'| <= 2^-61.9, unless a square underflows, which moves S by less than
// 2^-1021.
//
// Nearest: the plain scan's winner w has the least Distance. If another pellet k has
// Distance(k) = Distance(w) but Sl(k) < Sl(w), both roots round to one extended value, so
// Sl(w) <= Sl(k) (1 + 2^-61). Hence, for the pellet k of least Sd,
// Sd(w) <= Sd(k) (1 + 2^-49.9) + 2^-1020: w is among the pellets within NearestSquareLimit.
// The plain scan over those alone meets the same least Distance first at the same index.
inline double NearestSquareLimit(double leastSquare) { return leastSquare + leastSquare * 0x1p-47 + 0x1p-1000; }

// Eating: Distance < d needs Sl < d^2 (1 + 2^-63), hence Sd < d^2 (1 + 2^-50), or both
// squares underflow.
inline double EatingSquareLimit(double distance) {
  const double square = distance * distance;
  return square + square * 0x1p-40 + 0x1p-1000;
}

// The nearest pellets of many bugs at once, without a grid: the bugs side by side in vector
// lanes, each group against the pellets near it in x, which beats a grid's bookkeeping while
// the pellets are few. Loads the pellets once and then answers block after block of bugs.
class TLanePellets {
 public:
  // The most pellets for which the lanes beat the grid.
  static constexpr int32_t MaxFood = 256;
  // Whether the processor has the lanes' instructions (AVX2 or AVX-512, see BatchKernel).
  static bool Available();

  // Takes pellets 0 .. count - 1; false (and it must not be used) when any lies outside
  // TFoodGrid::InRange or there are none.
  bool Load(const TFood* food, int32_t count);

  // For each of `count` bugs: the index of the nearest pellet by the extended Distance, ties
  // to the lower index, exactly as the plain scan finds it, and the least squared distance
  // in double to any pellet. Requires every coordinate in TFoodGrid::InRange.
  void Nearest(const double* bugX, const double* bugY, int32_t count, int32_t* nearest, double* leastSquare) const;

 private:
  int32_t Count = 0;
  std::vector<double> X, Y;
  // The pellets sorted by x, with their indices; the order is kept from one Load to the next,
  // where pellets seldom move, so that sorting it again costs about one pass.
  std::vector<int32_t> Order;
  std::vector<double> SortedX, SortedY, SortedIndex;
};

// The kernels; call each only where the processor has its instructions. foodX, foodY and
// foodIndex are the pellets sorted by x, with their indices; foodCount >= 1. For each bug
// k < count: leastSquare[k] the least double squared distance to a pellet and nearest[k]
// the index of a pellet at that square; secondSquare[k] is at most NearestSquareLimit of the
// least exactly when another pellet lies within that limit (it is then the least square over
// the others), and above it otherwise. Bugs near each other in x share the work best.
void NearestPelletsAvx2(const double* bugX, const double* bugY, int32_t count, const double* foodX, const double* foodY,
                        const double* foodIndex, int32_t foodCount, int32_t* nearest, double* leastSquare,
                        double* secondSquare);
void NearestPelletsAvx512(const double* bugX, const double* bugY, int32_t count, const double* foodX,
                          const double* foodY, const double* foodIndex, int32_t foodCount, int32_t* nearest,
                          double* leastSquare, double* secondSquare);

}  // namespace zemlix
