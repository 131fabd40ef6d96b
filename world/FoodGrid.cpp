#include "world/FoodGrid.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "world/AdvancedMathUnit.h"
#include "world/NearestPellet.h"

namespace zemlix {
namespace {

// Within InRange a cell boundary, as CellX places it and as the searches below compute it,
// is off by less than 2^20 * 2^-50 = 2^-30; every bound drawn from a boundary gives away
// this much more.
constexpr double Slack = 0x1p-28;

}  // namespace

bool TFoodGrid::Load(const TFood* food, int32_t count, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || !InRange(width) || !InRange(height)) return false;
  Count = std::max(count, 0);
  // About one pellet per cell, the cells about square: columns * rows <= Count.
  const double aspect = static_cast<double>(width) / height;
  ColumnCount = std::clamp(static_cast<int32_t>(std::sqrt(Count * aspect)), 1, MaxSide);
  RowCount = std::clamp(static_cast<int32_t>(std::sqrt(Count / aspect)), 1, MaxSide);
  CellWidth = static_cast<double>(width) / ColumnCount;
  CellHeight = static_cast<double>(height) / RowCount;
  ScaleX = ColumnCount / static_cast<double>(width);
  ScaleY = RowCount / static_cast<double>(height);
  Pellets.resize(Count);
  for (int32_t j = 0; j < Count; ++j) {
    Pellets[j].X = food[j].X;
    Pellets[j].Y = food[j].Y;
    if (!InRange(food[j].X) || !InRange(food[j].Y)) return false;
  }
  Sort();
  return true;
}

bool TFoodGrid::Move(int32_t index, const TFood& pellet) {
  TPellet& moved = Pellets[index];
  moved.X = pellet.X;
  moved.Y = pellet.Y;
  if (!InRange(pellet.X) || !InRange(pellet.Y)) return false;
  if (!AnyMoved) {
    LiveEnd.assign(CellStart.begin() + 1, CellStart.end());
    FirstMoved.assign(Cells(), -1);
    AnyMoved = true;
  }
  const int32_t entry = EntryOf[index];
  if (entry >= 0) {
    // The cell's last live entry fills the gap.
    const int32_t last = --LiveEnd[CellOf[index]];
    const int32_t other = SortedIndex[last];
    SortedIndex[entry] = other;
    SortedX[entry] = SortedX[last];
    SortedY[entry] = SortedY[last];
    EntryOf[other] = entry;
    EntryOf[index] = -1;
  } else {
    if (moved.PreviousMoved >= 0) Pellets[moved.PreviousMoved].NextMoved = moved.NextMoved;
    else FirstMoved[CellOf[index]] = moved.NextMoved;
    if (moved.NextMoved >= 0) Pellets[moved.NextMoved].PreviousMoved = moved.PreviousMoved;
  }
  const int32_t cell = CellOfPoint(pellet.X, pellet.Y);
  CellOf[index] = cell;
  moved.PreviousMoved = -1;
  moved.NextMoved = FirstMoved[cell];
  if (moved.NextMoved >= 0) Pellets[moved.NextMoved].PreviousMoved = index;
  FirstMoved[cell] = index;
  return true;
}

// A counting sort: stable, so each cell keeps its pellets in increasing index.
void TFoodGrid::Sort() {
  const int32_t cells = Cells();
  AnyMoved = false;
  CellOf.resize(Count);
  SortedIndex.resize(Count);
  SortedX.resize(Count);
  SortedY.resize(Count);
  EntryOf.resize(Count);
  CellStart.assign(cells + 1, 0);
  for (int32_t j = 0; j < Count; ++j) {
    CellOf[j] = CellOfPoint(Pellets[j].X, Pellets[j].Y);
    ++CellStart[CellOf[j] + 1];
  }
  for (int32_t c = 0; c < cells; ++c) CellStart[c + 1] += CellStart[c];
  Next.assign(CellStart.begin(), CellStart.end() - 1);
  for (int32_t j = 0; j < Count; ++j) {
    const int32_t k = Next[CellOf[j]]++;
    EntryOf[j] = k;
    SortedIndex[k] = j;
    SortedX[k] = Pellets[j].X;
    SortedY[k] = Pellets[j].Y;
  }
}

// Searches rings of cells around the bug's cell, nearest first, until no pellet outside the
// searched block can be within NearestLimit; then decides among the candidates exactly.
int32_t TFoodGrid::Nearest(double x, double y, const TFood* food, double* leastSquare) const {
  assert(!AnyMoved && "moved pellets are only followed for eating");
  if (leastSquare) *leastSquare = 0;
  if (Count <= 1) return 0;
  // The least and second least squared distance seen, and the entry of the least.
  double least = std::numeric_limits<double>::infinity();
  double second = least;
  int32_t leastEntry = 0;
  // Entries first .. last - 1: one run of cells in a row.
  const auto scan = [&](int32_t first, int32_t last) {
    for (int32_t k = first; k < last; ++k) {
      const double dx = SortedX[k] - x;
      const double dy = SortedY[k] - y;
      const double square = dx * dx + dy * dy;
      // Without branches (minimum, maximum and a conditional move): which pellet is nearer
      // is a coin toss, and mispredicted jumps cost more than the arithmetic.
      leastEntry = square < least ? k : leastEntry;
      second = std::min(second, std::max(least, square));
      least = std::min(least, square);
    }
  };
  const int32_t cx = CellX(x);
  const int32_t cy = CellY(y);
  // The first search covers the 3 x 3 block at once (one run per row): ring 0 alone hardly
  // ever decides, since the nearest pellet lies about a cell away.
  const int32_t firstRing = Cells() > 1 ? 1 : 0;
  int32_t ring = firstRing;
  for (;; ++ring) {
    const int32_t left = cx - ring, right = cx + ring, top = cy - ring, bottom = cy + ring;
    const int32_t firstColumn = std::max(left, 0), lastColumn = std::min(right, ColumnCount - 1);
    for (int32_t row = std::max(top, 0); row <= std::min(bottom, RowCount - 1); ++row) {
      const int32_t base = row * ColumnCount;
      if (row == top || row == bottom || ring == firstRing) {
        scan(CellStart[base + firstColumn], CellStart[base + lastColumn + 1]);
      } else {
        if (left >= 0) scan(CellStart[base + left], CellStart[base + left + 1]);
        if (right < ColumnCount) scan(CellStart[base + right], CellStart[base + right + 1]);
      }
    }
    // A pellet outside the searched block lies beyond one of its sides that is not the
    // field's edge (the edge cells also hold everything beyond the edge).
    double reach = std::numeric_limits<double>::infinity();
    if (left > 0) reach = std::min(reach, x - left * CellWidth);
    if (right < ColumnCount - 1) reach = std::min(reach, (right + 1) * CellWidth - x);
    if (top > 0) reach = std::min(reach, y - top * CellHeight);
    if (bottom < RowCount - 1) reach = std::min(reach, (bottom + 1) * CellHeight - y);
    if (reach == std::numeric_limits<double>::infinity()) break;
    reach -= Slack;
    if (reach > 0 && reach * reach * (1 - 0x1p-40) > NearestSquareLimit(least)) break;
  }

  // The search never stops before it has seen a pellet. Usually no other one comes within
  // NearestLimit: then the least is the answer.
  const double limit = NearestSquareLimit(least);
  if (leastSquare) *leastSquare = least;
  if (second > limit) return SortedIndex[leastEntry];

  // Otherwise the candidates within the limit, from the whole block searched, in increasing
  // order of index, and the plain scan over them.
  std::vector<int32_t> candidates;
  const int32_t firstColumn = std::max(cx - ring, 0), lastColumn = std::min(cx + ring, ColumnCount - 1);
  for (int32_t row = std::max(cy - ring, 0); row <= std::min(cy + ring, RowCount - 1); ++row)
    for (int32_t k = CellStart[row * ColumnCount + firstColumn]; k < CellStart[row * ColumnCount + lastColumn + 1];
         ++k) {
      const double dx = SortedX[k] - x;
      const double dy = SortedY[k] - y;
      if (dx * dx + dy * dy <= limit) candidates.push_back(SortedIndex[k]);
    }
  std::sort(candidates.begin(), candidates.end());  // the block holds the least: never empty
  int32_t nearest = candidates[0];
  long double best = Distance(x, y, food[nearest].X, food[nearest].Y);
  for (size_t k = 1; k < candidates.size(); ++k) {
    const long double d = Distance(x, y, food[candidates[k]].X, food[candidates[k]].Y);
    if (d < best) {
      best = d;
      nearest = candidates[k];
    }
  }
  return nearest;
}

int32_t TFoodGrid::WithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  int32_t found = LoadedWithinEatingReach(x, y, distance, indices);
  if (AnyMoved) found += MovedWithinEatingReach(x, y, distance, indices + found);
  if (found > 1) std::sort(indices, indices + found);
  return found;
}

int32_t TFoodGrid::LoadedWithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  int32_t found = 0;
  const double limit = EatingSquareLimit(distance);
  const auto [left, right, top, bottom] = CellsWithin(x, y, distance);
  const auto scan = [&](int32_t first, int32_t last) {
    for (int32_t k = first; k < last; ++k) {
      const double dx = SortedX[k] - x;
      const double dy = SortedY[k] - y;
      if (dx * dx + dy * dy < limit) indices[found++] = SortedIndex[k];
    }
  };
  for (int32_t row = top; row <= bottom; ++row) {
    const int32_t base = row * ColumnCount;
    if (!AnyMoved) {
      scan(CellStart[base + left], CellStart[base + right + 1]);
    } else {
      for (int32_t cell = base + left; cell <= base + right; ++cell) scan(CellStart[cell], LiveEnd[cell]);
    }
  }
  return found;
}

int32_t TFoodGrid::MovedWithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  if (!AnyMoved) return 0;
  int32_t found = 0;
  const double limit = EatingSquareLimit(distance);
  const auto [left, right, top, bottom] = CellsWithin(x, y, distance);
  for (int32_t row = top; row <= bottom; ++row)
    for (int32_t column = left; column <= right; ++column)
      for (int32_t j = FirstMoved[row * ColumnCount + column]; j >= 0; j = Pellets[j].NextMoved) {
        const double dx = Pellets[j].X - x;
        const double dy = Pellets[j].Y - y;
        if (dx * dx + dy * dy < limit) indices[found++] = j;
      }
  return found;
}

}  // namespace zemlix
