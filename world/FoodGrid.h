#pragma once

#include <cmath>
#include <cstdint>

#include "world/World.h"

namespace zemlix {

// The active pellets bucketed into a coarse grid over the field, so that a nearest-pellet
// search or an eating test looks at the few pellets that can decide it instead of all of
// them. The decision itself is always taken with the extended Distance, so the answers are
// those of the plain scans.
class TFoodGrid {
 public:
  // Buckets pellets 0 .. count - 1 over a width x height field. Returns false (and the grid
  // must not be used) when a coordinate or the field is outside InRange.
  bool Load(const TFood* food, int32_t count, int32_t width, int32_t height);
  // Follows a pellet that PlaceFood moved (sorting the lists again: pellets are eaten far
  // less often than searched for). Returns false on the same condition as Load.
  bool Move(int32_t index, const TFood& pellet);

  // The index of the pellet nearest to (x, y) by the extended Distance, ties to the lower
  // index, exactly as the plain scan over `food` (the pellets loaded) finds it.
  // Requires InRange(x) and InRange(y).
  int32_t Nearest(double x, double y, const TFood* food) const;

  // Writes, in increasing order, the index of every pellet that may lie less than 6 from
  // (x, y): every pellet that does is among them. Returns their number.
  // Requires InRange(x) and InRange(y).
  int32_t WithinEatingReach(double x, double y, int32_t* indices) const;

  // Coordinates the grid takes: far beyond any field, and small enough that the rounding of
  // cell boundaries stays below Slack.
  static bool InRange(double v) { return std::fabs(v) <= 0x1p20; }

 private:
  static constexpr int32_t MaxSide = 16;

  int32_t CellX(double x) const;
  int32_t CellY(double y) const;
  // Sorts the pellets by cell (by index within a cell) into the contiguous lists below.
  void Sort();

  int32_t Count = 0;
  int32_t Side = 1;
  double CellWidth = 1, CellHeight = 1;
  double ScaleX = 1, ScaleY = 1;  // cells per unit of length
  double X[TWorld::MaxFood];      // the pellets as loaded, by index
  double Y[TWorld::MaxFood];
  int32_t CellOf[TWorld::MaxFood];
  // Cell c's pellets are entries CellStart[c] .. CellStart[c + 1] - 1 of the sorted lists, so
  // a row of cells is one run of entries.
  int32_t CellStart[MaxSide * MaxSide + 1];
  int32_t SortedIndex[TWorld::MaxFood];
  double SortedX[TWorld::MaxFood];
  double SortedY[TWorld::MaxFood];
};

}  // namespace zemlix
