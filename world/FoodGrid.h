#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zemlix {

struct TFood {
  double X = 0;
  double Y = 0;
};

// The active pellets bucketed into a coarse grid over the field, so that a nearest-pellet
// search or an eating test looks at the few pellets that can decide it instead of all of
// them. The decision itself is always taken with the extended Distance, so the answers are
// those of the plain scans.
class TFoodGrid {
 public:
  // Buckets pellets 0 .. count - 1 over a width x height field. Returns false (and the grid
  // must not be used) when a coordinate or the field is outside InRange.
  bool Load(const TFood* food, int32_t count, int32_t width, int32_t height);
  // Follows a pellet that PlaceFood moved, in constant time: the pellet leaves its cell's
  // loaded entries (the cell's last one takes its place, so no search meets it again) or its
  // cell's list of moved pellets, and joins its new cell's list. However many pellets are
  // eaten in a tick, no search looks at a pellet where it no longer lies. Returns false on
  // the same condition as Load.
  bool Move(int32_t index, const TFood& pellet);

  // The index of the pellet nearest to (x, y) by the extended Distance, ties to the lower
  // index, exactly as the plain scan over `food` (the pellets loaded) finds it; and, where
  // asked, the least squared distance in double to any pellet (0 when there is at most one).
  // Requires InRange(x) and InRange(y), and no Move since Load.
  int32_t Nearest(double x, double y, const TFood* food, double* leastSquare = nullptr) const;

  // Writes, in increasing order, the index of every pellet that may lie less than
  // `distance` from (x, y): every pellet that does is among them. Returns their number;
  // `indices` has room for every pellet loaded. Requires InRange(x) and InRange(y).
  int32_t WithinEatingReach(double x, double y, double distance, int32_t* indices) const;

  // WithinEatingReach in two unsorted halves: the pellets still where Load put them (which
  // may be gathered before any Move, on any thread: they are found the same way later as
  // long as they have not moved), and those moved since.
  int32_t LoadedWithinEatingReach(double x, double y, double distance, int32_t* indices) const;
  int32_t MovedWithinEatingReach(double x, double y, double distance, int32_t* indices) const;
  // Whether pellet `index` moved since Load.
  bool HasMoved(int32_t index) const { return EntryOf[index] < 0; }

  // The cells a search for anything less than `distance` from (x, y) covers: columns Left ..
  // Right of rows Top .. Bottom. Requires InRange(x) and InRange(y).
  struct TCellBlock {
    int32_t Left, Right, Top, Bottom;
  };
  // A pellet less than d from (x, y) has both coordinates within d (plus far less than 1)
  // of it, so by the monotony of CellX and CellY it lies in the block of cells between those
  // of (x - d - 1, y - d - 1) and (x + d + 1, y + d + 1).
  TCellBlock CellsWithin(double x, double y, double distance) const {
    const double reach = distance + 1;
    return {CellX(x - reach), CellX(x + reach), CellY(y - reach), CellY(y + reach)};
  }
  // Cells are numbered row by row, Columns() to a row.
  int32_t Columns() const { return ColumnCount; }
  int32_t Rows() const { return RowCount; }
  int32_t Cells() const { return ColumnCount * RowCount; }
  int32_t CellOfPoint(double x, double y) const { return CellY(y) * ColumnCount + CellX(x); }

  // Coordinates the grid takes: far beyond any field, and small enough that the rounding of
  // cell boundaries stays below Slack.
  static bool InRange(double v) { return std::fabs(v) <= 0x1p20; }

 private:
  // Per axis: a long thin field gets cells of about the same shape as a square one's, so
  // that a search covers about as many cells and pellets whatever the field's proportions.
  static constexpr int32_t MaxSide = 1 << 16;

  // Monotone in x: a product by a positive constant, a clamp and a truncation of a
  // non-negative value. So a pellet between two abscissas lies in a column between theirs.
  // Inline: every search of every bug starts here.
  int32_t CellX(double x) const { return static_cast<int32_t>(std::clamp(x * ScaleX, 0.0, ColumnCount - 1.0)); }
  int32_t CellY(double y) const { return static_cast<int32_t>(std::clamp(y * ScaleY, 0.0, RowCount - 1.0)); }
  // Sorts the pellets by cell (by index within a cell) into the contiguous lists below.
  void Sort();

  int32_t Count = 0;
  int32_t ColumnCount = 1, RowCount = 1;
  double CellWidth = 1, CellHeight = 1;
  double ScaleX = 1, ScaleY = 1;  // cells per unit of length
  // By index: the pellet as loaded or moved and, once moved, its links in its cell's list of
  // moved pellets (-1 ends a list), all in one place for the searches that walk the lists.
  struct TPellet {
    double X, Y;
    int32_t NextMoved, PreviousMoved;
  };
  std::vector<TPellet> Pellets;
  std::vector<int32_t> CellOf;
  // Cell c's pellets are entries CellStart[c] .. CellStart[c + 1] - 1 of the sorted lists, so
  // a row of cells is one run of entries. Once a pellet has moved, only entries
  // CellStart[c] .. LiveEnd[c] - 1 are still where Load found them, in no particular order.
  std::vector<int32_t> CellStart;
  std::vector<int32_t> LiveEnd;
  std::vector<int32_t> SortedIndex;
  std::vector<double> SortedX;
  std::vector<double> SortedY;
  std::vector<int32_t> EntryOf;  // by index: its entry in the sorted lists, -1 once moved
  // Pellets moved since Load, by cell: the first of a doubly linked list, so that a pellet
  // moved again leaves its list at once.
  std::vector<int32_t> FirstMoved;
  bool AnyMoved = false;
  std::vector<int32_t> Next;  // Sort's scratch
};

}  // namespace zemlix
