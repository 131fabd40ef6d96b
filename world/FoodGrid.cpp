#include "world/FoodGrid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
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

void TFoodGrid::DirectionOf(double x, double y, double& directionX, double& directionY) {
  const long double fx = x;
  const long double fy = y;
  const long double len = std::sqrt(fx * fx + fy * fy);
  directionX = static_cast<double>(fx / len);
  directionY = static_cast<double>(fy / len);
}

bool TFoodGrid::Load(const TFood* food, int32_t count, int32_t width, int32_t height, bool directions) {
  return Reserve(count, width, height, directions) && FinishLoad(LoadPart(food, 0, Count));
}

bool TFoodGrid::Reserve(int32_t count, int32_t width, int32_t height, bool directions, bool arrays) {
  Valid = false;
  Directions = directions;
  if (width <= 0 || height <= 0 || !InRange(width) || !InRange(height)) return false;
  Count = std::max(count, 0);
  LoadedWidth = width;
  LoadedHeight = height;
  Shape.Shape(Count, width, height);
  CellWidth = static_cast<double>(width) / Shape.Columns;
  CellHeight = static_cast<double>(height) / Shape.Rows;
  if (arrays) ReserveArrays(0, 1);
  return true;
}

void TFoodGrid::ReserveArrays(int32_t part, int32_t parts) {
  const int32_t cells = Cells();
  // Every parts-th array, the largest spread first.
  int32_t array = 0;
  const auto mine = [&] { return array++ % parts == part; };
  if (mine()) Pellets.resize(Count);
  if (mine()) Sorted.resize(Count);
  if (mine()) NewSorted.resize(Count);
  if (mine()) CellOf.resize(Count);
  if (mine()) SortedIndex.resize(Count);
  if (mine()) EntryOf.resize(Count);
  if (mine()) NewSortedIndex.resize(Count);
  if (mine()) Cell.resize(cells + 1);
  if (mine()) NewCell.resize(cells + 1);
  if (mine()) Next.resize(cells);
  if (mine()) RowCount.resize(Shape.Rows);
}

bool TFoodGrid::LoadPart(const TFood* food, int32_t first, int32_t end) {
  for (int32_t j = first; j < end; ++j) {
    Pellets[j] = {food[j].X, food[j].Y, -1, -1, 0, 0, 0};
    if (!InRange(food[j].X) || !InRange(food[j].Y)) return false;
    if (Directions) DirectionOf(food[j].X, food[j].Y, Pellets[j].DirectionX, Pellets[j].DirectionY);
    CellOf[j] = CellOfPoint(food[j].X, food[j].Y);
    // The sort writes these in another order: touched here first, beside the pellets.
    SortedIndex[j] = EntryOf[j] = NewSortedIndex[j] = 0;
    Sorted[j] = NewSorted[j] = {};
  }
  // The part's share of the cells, likewise.
  const int64_t cells = Cells();
  const int32_t firstCell = Count > 0 ? static_cast<int32_t>(cells * first / Count) : 0;
  const int32_t endCell = Count > 0 ? static_cast<int32_t>(cells * end / Count) : 0;
  std::fill(Cell.begin() + firstCell, Cell.begin() + endCell, TCell{0, -1});
  std::fill(Next.begin() + firstCell, Next.begin() + endCell, 0);
  std::fill(NewCell.begin() + firstCell, NewCell.begin() + endCell, TCell{0, -1});
  return true;
}

bool TFoodGrid::FinishLoad(bool partsInRange, bool rowsSorted) {
  if (!partsInRange) return false;
  Valid = true;
  if (rowsSorted) MovedCount = 0;
  else Sort();
  return true;
}

bool TFoodGrid::Move(int32_t index, const TFood& pellet, bool previousRound) {
  TPellet& moved = Pellets[index];
  moved.X = pellet.X;
  moved.Y = pellet.Y;
  if (!InRange(pellet.X) || !InRange(pellet.Y)) {
    Valid = false;
    return false;
  }
  if (Directions) DirectionOf(pellet.X, pellet.Y, moved.DirectionX, moved.DirectionY);
  const int32_t entry = EntryOf[index];
  if (entry >= 0) {
    // Infinitely far: no search takes it, and the runs of entries stay whole.
    Sorted[entry].X = Sorted[entry].Y = std::numeric_limits<double>::infinity();
    EntryOf[index] = -1;
  } else {
    if (moved.PreviousMoved >= 0) Pellets[moved.PreviousMoved].NextMoved = moved.NextMoved;
    else Cell[CellOf[index]].FirstMoved = moved.NextMoved;
    if (moved.NextMoved >= 0) Pellets[moved.NextMoved].PreviousMoved = moved.PreviousMoved;
  }
  const int32_t cell = CellOfPoint(pellet.X, pellet.Y);
  --RowCount[CellOf[index] / Shape.Columns];
  ++RowCount[cell / Shape.Columns];
  CellOf[index] = cell;
  moved.PreviousMoved = -1;
  moved.NextMoved = Cell[cell].FirstMoved;
  moved.MovedIn = previousRound ? Round - 1 : Round;
  if (moved.NextMoved >= 0) Pellets[moved.NextMoved].PreviousMoved = index;
  Cell[cell].FirstMoved = index;
  ++MovedCount;
  return true;
}

void TFoodGrid::Sort() {
  SortRows(0, Shape.Rows);
  MovedCount = 0;
}

// A counting sort of the band's pellets: stable, so each cell keeps its pellets in
// increasing index. Every band reads all cells of the pellets, and writes only its own.
void TFoodGrid::SortRows(int32_t firstRow, int32_t endRow) {
  const int32_t firstCell = firstRow * Shape.Columns, endCell = endRow * Shape.Columns;
  std::fill(Next.begin() + firstCell, Next.begin() + endCell, 0);  // each cell's count
  int32_t at = 0;  // the pellets of the cells before the band
  for (int32_t j = 0; j < Count; ++j) {
    const int32_t cell = CellOf[j];
    if (cell < firstCell) ++at;
    else if (cell < endCell) ++Next[cell];
  }
  for (int32_t row = firstRow; row < endRow; ++row) {
    const int32_t rowStart = at;
    for (int32_t cell = row * Shape.Columns; cell < (row + 1) * Shape.Columns; ++cell) {
      Cell[cell].Start = at;
      at += Next[cell];
      Next[cell] = Cell[cell].Start;  // from now on: the cell's next entry
      Cell[cell].FirstMoved = -1;
    }
    RowCount[row] = at - rowStart;
  }
  if (endRow == Shape.Rows) Cell[Cells()].Start = at;
  for (int32_t j = 0; j < Count; ++j) {
    const int32_t cell = CellOf[j];
    if (cell < firstCell || cell >= endCell) continue;
    const int32_t k = Next[cell]++;
    EntryOf[j] = k;
    SortedIndex[k] = j;
    Sorted[k] = {Pellets[j].X, Pellets[j].Y, Pellets[j].DirectionX, Pellets[j].DirectionY};
  }
}

// Each cell's pellets in increasing index, as Sort lays them out: the sorted entries still
// held (already in that order) merged with the cell's listed pellets.
void TFoodGrid::LayOutRows(int32_t firstRow, int32_t endRow) {
  int32_t at = 0;
  for (int32_t row = 0; row < firstRow; ++row) at += RowCount[row];
  std::vector<int32_t> listed;
  const auto place = [&](int32_t j) {
    const TPellet& p = Pellets[j];
    NewSorted[at] = {p.X, p.Y, p.DirectionX, p.DirectionY};
    NewSortedIndex[at] = j;
    EntryOf[j] = at++;
  };
  for (int32_t cell = firstRow * Shape.Columns; cell < endRow * Shape.Columns; ++cell) {
    NewCell[cell] = {at, -1};
    listed.clear();
    for (int32_t j = Cell[cell].FirstMoved; j >= 0; j = Pellets[j].NextMoved) listed.push_back(j);
    std::sort(listed.begin(), listed.end());
    size_t next = 0;
    for (int32_t k = Cell[cell].Start; k < Cell[cell + 1].Start; ++k) {
      // An entry left by a pellet that moved since holds infinite coordinates (and its
      // pellet, listed where it lies now, may be another band's).
      if (std::isinf(Sorted[k].X)) continue;
      const int32_t j = SortedIndex[k];
      for (; next < listed.size() && listed[next] < j; ++next) place(listed[next]);
      place(j);
    }
    for (; next < listed.size(); ++next) place(listed[next]);
  }
  if (endRow == Shape.Rows) NewCell[Cells()].Start = at;
}

void TFoodGrid::EndLayout() {
  std::swap(Cell, NewCell);
  std::swap(SortedIndex, NewSortedIndex);
  std::swap(Sorted, NewSorted);
  MovedCount = 0;
}

// Searches rings of cells around the bug's cell, nearest first, until no pellet outside the
// searched block can be within NearestLimit; then decides among the candidates exactly.
int32_t TFoodGrid::Nearest(double x, double y, const TFood* food, double* leastSquare, double* direction,
                           bool index) const {
  if (leastSquare) *leastSquare = 0;
  const auto answer = [&](int32_t entry, int32_t pellet) {
    if (direction) {
      direction[0] = entry >= 0 ? Sorted[entry].DirectionX : Pellets[pellet].DirectionX;
      direction[1] = entry >= 0 ? Sorted[entry].DirectionY : Pellets[pellet].DirectionY;
    }
    return pellet;
  };
  if (Count <= 1) return answer(-1, 0);
  const bool listed = MovedCount > 0;
  // The least and second least squared distance seen, and where the least is: a sorted
  // entry (from 0) or a listed pellet j (-1 - j).
  double least = std::numeric_limits<double>::infinity();
  double second = least;
  int32_t leastEntry = 0;
  const auto consider = [&](double square, int32_t at) {
    // Without branches (minimum, maximum and a conditional move): which pellet is nearer
    // is a coin toss, and mispredicted jumps cost more than the arithmetic.
    leastEntry = square < least ? at : leastEntry;
    second = std::min(second, std::max(least, square));
    least = std::min(least, square);
  };
  // Sorted entries begin .. end - 1, and the pellets listed in cells first .. last.
  const auto scanEntries = [&](int32_t begin, int32_t end) {
    for (int32_t k = begin; k < end; ++k) {
      const double dx = Sorted[k].X - x;
      const double dy = Sorted[k].Y - y;
      consider(dx * dx + dy * dy, k);
    }
  };
  const auto scanListed = [&](int32_t first, int32_t last) {
    if (listed)
      VisitMoved(first, last, [&](int32_t j, const TPellet& p) {
        const double dx = p.X - x;
        const double dy = p.Y - y;
        consider(dx * dx + dy * dy, -1 - j);
      });
  };
  // Cells first .. last of one row.
  const auto scan = [&](int32_t first, int32_t last) {
    scanEntries(Cell[first].Start, Cell[last + 1].Start);
    scanListed(first, last);
  };
  // Whether no pellet `reach` or more away (less the cells' rounding) can be within
  // NearestLimit of the least seen.
  const auto beyondLimit = [&](double reach) {
    reach -= Slack;
    return reach > 0 && reach * reach * (1 - 0x1p-40) > NearestSquareLimit(least);
  };
  const int32_t cx = Shape.CellX(x);
  const int32_t cy = Shape.CellY(y);
  // The first search covers the 3 x 3 block at once (one run per row): ring 0 alone hardly
  // ever decides, since the nearest pellet lies about a cell away.
  const int32_t firstRing = Cells() > 1 ? 1 : 0;
  int32_t ring = firstRing;
  bool decided = false;
  // The usual first search, with less bookkeeping: the 3 x 3 block of a cell at least two
  // cells from every edge, whose rows are three runs of entries (their bounds read before
  // any entry, so that the rows' misses overlap) and whose four sides all bound the reach.
  // The same pellets, reach and test as the loop's first ring; where they do not decide,
  // the loop goes on from the next ring.
  if (firstRing == 1 && cx >= 2 && cx + 2 < Shape.Columns && cy >= 2 && cy + 2 < Shape.Rows) {
    int32_t first[3], begin[3], end[3];
    for (int32_t r = 0; r < 3; ++r) {
      first[r] = (cy - 1 + r) * Shape.Columns + cx - 1;
      begin[r] = Cell[first[r]].Start;
      end[r] = Cell[first[r] + 3].Start;
    }
    for (int32_t r = 0; r < 3; ++r) scanEntries(begin[r], end[r]);
    for (int32_t r = 0; r < 3; ++r) scanListed(first[r], first[r] + 2);
    decided = beyondLimit(std::min(std::min(x - (cx - 1) * CellWidth, (cx + 2) * CellWidth - x),
                                   std::min(y - (cy - 1) * CellHeight, (cy + 2) * CellHeight - y)));
    if (!decided) ring = 2;
  }
  for (; !decided; ++ring) {
    const int32_t left = cx - ring, right = cx + ring, top = cy - ring, bottom = cy + ring;
    const int32_t firstColumn = std::max(left, 0), lastColumn = std::min(right, Shape.Columns - 1);
    for (int32_t row = std::max(top, 0); row <= std::min(bottom, Shape.Rows - 1); ++row) {
      const int32_t base = row * Shape.Columns;
      if (row == top || row == bottom || ring == firstRing) {
        scan(base + firstColumn, base + lastColumn);
      } else {
        if (left >= 0) scan(base + left, base + left);
        if (right < Shape.Columns) scan(base + right, base + right);
      }
    }
    // A pellet outside the searched block lies beyond one of its sides that is not the
    // field's edge (the edge cells also hold everything beyond the edge).
    double reach = std::numeric_limits<double>::infinity();
    if (left > 0) reach = std::min(reach, x - left * CellWidth);
    if (right < Shape.Columns - 1) reach = std::min(reach, (right + 1) * CellWidth - x);
    if (top > 0) reach = std::min(reach, y - top * CellHeight);
    if (bottom < Shape.Rows - 1) reach = std::min(reach, (bottom + 1) * CellHeight - y);
    if (reach == std::numeric_limits<double>::infinity() || beyondLimit(reach)) break;
  }

  // The search never stops before it has seen a pellet. Usually no other one comes within
  // NearestLimit: then the least is the answer.
  const double limit = NearestSquareLimit(least);
  if (leastSquare) *leastSquare = least;
  if (second > limit)
    return leastEntry >= 0 ? answer(leastEntry, index ? SortedIndex[leastEntry] : -1) : answer(-1, -1 - leastEntry);

  // Otherwise the candidates within the limit, from the whole block searched, in increasing
  // order of index, and the plain scan over them.
  std::vector<int32_t> candidates;
  const int32_t firstColumn = std::max(cx - ring, 0), lastColumn = std::min(cx + ring, Shape.Columns - 1);
  for (int32_t row = std::max(cy - ring, 0); row <= std::min(cy + ring, Shape.Rows - 1); ++row) {
    const int32_t base = row * Shape.Columns;
    for (int32_t k = Cell[base + firstColumn].Start; k < Cell[base + lastColumn + 1].Start; ++k) {
      const double dx = Sorted[k].X - x;
      const double dy = Sorted[k].Y - y;
      if (dx * dx + dy * dy <= limit) candidates.push_back(SortedIndex[k]);
    }
    if (listed)
      VisitMoved(base + firstColumn, base + lastColumn, [&](int32_t j, const TPellet& p) {
        const double dx = p.X - x;
        const double dy = p.Y - y;
        if (dx * dx + dy * dy <= limit) candidates.push_back(j);
      });
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
  return answer(-1, nearest);
}

int32_t TFoodGrid::WithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  int32_t found = LoadedWithinEatingReach(x, y, distance, indices);
  found += MovedWithinEatingReach(x, y, distance, indices + found);
  if (found > 1) std::sort(indices, indices + found);
  return found;
}

int32_t TFoodGrid::LoadedWithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  int32_t found = 0;
  const double limit = EatingSquareLimit(distance);
  const auto [left, right, top, bottom] = CellsWithin(x, y, distance);
  for (int32_t row = top; row <= bottom; ++row) {
    const int32_t base = row * Shape.Columns;
    // Entries moved since Sort hold infinite coordinates and fail the test.
    for (int32_t k = Cell[base + left].Start; k < Cell[base + right + 1].Start; ++k) {
      const double dx = Sorted[k].X - x;
      const double dy = Sorted[k].Y - y;
      if (dx * dx + dy * dy < limit) indices[found++] = SortedIndex[k];
    }
  }
  if (MovedCount > 0) found += ListedWithinReach(x, y, distance, false, indices + found);
  return found;
}

int32_t TFoodGrid::MovedWithinEatingReach(double x, double y, double distance, int32_t* indices) const {
  return MovedCount > 0 ? ListedWithinReach(x, y, distance, true, indices) : 0;
}

int32_t TFoodGrid::ListedWithinReach(double x, double y, double distance, bool thisRound, int32_t* indices) const {
  int32_t found = 0;
  const double limit = EatingSquareLimit(distance);
  const auto [left, right, top, bottom] = CellsWithin(x, y, distance);
  for (int32_t row = top; row <= bottom; ++row)
    VisitMoved(row * Shape.Columns + left, row * Shape.Columns + right, [&](int32_t j, const TPellet& p) {
      const double dx = p.X - x;
      const double dy = p.Y - y;
      if (dx * dx + dy * dy < limit && (p.MovedIn == Round) == thisRound) indices[found++] = j;
    });
  return found;
}

}  // namespace zemlix
