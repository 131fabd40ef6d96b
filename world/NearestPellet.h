#pragma once

#include <cstdint>
#include <vector>

#include "world/FoodGrid.h"

namespace zemlix {

// Squared distances in double stand in for the extended Distance wherever they can decide:
// these are the bounds that make them exact (see NearestPellet.cpp).
// Every pellet whose extended Distance could tie with or beat the one of least double
// square lies within this double square of the bug.
double NearestSquareLimit(double leastSquare);
// A pellet less than `distance` away by the extended Distance lies within this double square.
double EatingSquareLimit(double distance);

// The nearest pellets of many bugs at once, without a grid: the bugs side by side in vector
// lanes, each against every pellet, which beats a grid's bookkeeping while the pellets are
// few. Loads the pellets once and then answers block after block of bugs.
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
};

// The kernels; call each only where the processor has its instructions. For each bug k <
// count: nearest[k] the pellet of least double squared distance (the first index among
// equal ones), leastSquare[k] that square and secondSquare[k] the least over the others
// (infinity with one pellet). foodCount >= 1.
void NearestPelletsAvx2(const double* bugX, const double* bugY, int32_t count, const double* foodX, const double* foodY,
                        int32_t foodCount, int32_t* nearest, double* leastSquare, double* secondSquare);
void NearestPelletsAvx512(const double* bugX, const double* bugY, int32_t count, const double* foodX,
                          const double* foodY, int32_t foodCount, int32_t* nearest, double* leastSquare,
                          double* secondSquare);

}  // namespace zemlix
