#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/LargePages.h"

namespace zemlix {

struct TFood {
  double X = 0;
  double Y = 0;
};

// A block of cells: columns Left .. Right of rows Top .. Bottom.
struct TCellBlock {
  int32_t Left, Right, Top, Bottom;
};

// Cells over a width x height field, about one per item and about square, numbered row by
// row, Columns to a row: the pellet grid's cells, and each thread's cells for its bugs.
class TCellShape {
 public:
  void Shape(int32_t count, int32_t width, int32_t height) {
    const double w = std::max(width, 1), h = std::max(height, 1);
    Columns = std::clamp(static_cast<int32_t>(std::sqrt(std::max(count, 1) * (w / h))), 1, MaxSide);
    Rows = std::clamp(static_cast<int32_t>(std::sqrt(std::max(count, 1) / (w / h))), 1, MaxSide);
    ScaleX = Columns / w;
    ScaleY = Rows / h;
  }
  int32_t Cells() const { return Columns * Rows; }
  int32_t CellOfPoint(double x, double y) const { return CellY(y) * Columns + CellX(x); }
  // Monotone in x: a product by a positive constant, a clamp and a truncation of a
  // non-negative value. So a point between two abscissas lies in a column between theirs.
  int32_t CellX(double x) const { return static_cast<int32_t>(std::clamp(x * ScaleX, 0.0, Columns - 1.0)); }
  int32_t CellY(double y) const { return static_cast<int32_t>(std::clamp(y * ScaleY, 0.0, Rows - 1.0)); }
  // A point less than d from (x, y) has both coordinates within d (plus far less than 1) of
  // it, so by the monotony of CellX and CellY it lies in the block of cells between those of
  // (x - d - 1, y - d - 1) and (x + d + 1, y + d + 1). Requires |x|, |y| and d far inside
  // the range of double's integers.
  TCellBlock CellsWithin(double x, double y, double distance) const {
    const double reach = distance + 1;
    return {CellX(x - reach), CellX(x + reach), CellY(y - reach), CellY(y + reach)};
  }

  int32_t Columns = 1, Rows = 1;

 private:
  // Per axis: a long thin field gets cells of about the same shape as a square one's, so
  // that a search covers about as many cells and items whatever the field's proportions.
  static constexpr int32_t MaxSide = 1 << 16;
  double ScaleX = 1, ScaleY = 1;  // cells per unit of length
};

// The active pellets bucketed into a coarse grid over the field, so that a nearest-pellet
// search or an eating test looks at the few pellets that can decide it instead of all of
// them. The decision itself is always taken with the extended Distance, so the answers are
// those of the plain scans.
//
// The grid is kept from tick to tick: a pellet that moves leaves its sorted entry (which
// then holds infinite coordinates, so that the branch-free scans pass over it) and joins its
// new cell's short list; the searches look at both. Once many pellets sit in lists, Sort
// lays them all out again.
class TFoodGrid {
 public:
  // Buckets pellets 0 .. count - 1 over a width x height field. Returns false (and the grid
  // must not be used) when a coordinate or the field is outside InRange. With `directions`
  // it keeps each pellet's DirectionOf beside it, for Nearest to hand out.
  bool Load(const TFood* food, int32_t count, int32_t width, int32_t height, bool directions = false);
  // The same load in steps, so that threads share the per-pellet part: Reserve on one
  // thread (or Reserve without the arrays, and then ReserveArrays for parts 0 .. parts - 1,
  // concurrently, so that threads share the allocations and their first pages too), then
  // LoadPart for disjoint runs of pellets covering 0 .. count - 1 (concurrently,
  // each returning whether its pellets are in range), then FinishLoad on one thread with
  // whether every part was. When every part was, threads may lay the pellets out between the
  // two, once all parts are loaded: SortRows for disjoint runs of rows covering
  // 0 .. Rows() - 1, concurrently, and then FinishLoad(true, true).
  bool Reserve(int32_t count, int32_t width, int32_t height, bool directions, bool arrays = true);
  void ReserveArrays(int32_t part, int32_t parts);
  bool LoadPart(const TFood* food, int32_t first, int32_t end);
  void SortRows(int32_t firstRow, int32_t endRow);
  bool FinishLoad(bool partsInRange, bool rowsSorted = false);
  // A network's first two inputs for a pellet at (x, y): its position as a unit vector from
  // the field's corner, in extended precision, each rounded to double.
  static void DirectionOf(double x, double y, double& directionX, double& directionY);
  // Whether Load succeeded for this count and field, and no Move failed since.
  bool Holds(int32_t count, int32_t width, int32_t height) const {
    return Valid && count == Count && width == LoadedWidth && height == LoadedHeight;
  }
  // Whether pellet `index` lies in the grid exactly (bit for bit) at `pellet`.
  bool LiesAt(int32_t index, const TFood& pellet) const {
    return SameBits(Pellets[index].X, pellet.X) && SameBits(Pellets[index].Y, pellet.Y);
  }
  // Follows a pellet that moved, in constant time: the pellet leaves its sorted entry or
  // its cell's list of moved pellets and joins its new cell's list. Returns false, and the
  // grid must be loaded again, on the same condition as Load. A move made after StartMoves
  // that belongs to the round before it (a pellet moved by other means between two ticks)
  // passes previousRound: HasMoved is then false for it.
  bool Move(int32_t index, const TFood& pellet, bool previousRound = false);
  // Whether the moved pellets are many enough that the searches pay for a new layout.
  bool WantsSort() const { return MovedCount > Count / 8 + 8; }
  // Lays every pellet out in the sorted entries again (their positions and cells unchanged).
  void Sort();
  // The same new layout made in bands of rows that threads lay out concurrently, each
  // reading and writing only its own rows' cells and pellets: LayOutRows for disjoint runs
  // of rows covering 0 .. Rows() - 1, then EndLayout on one thread. Nothing else may use
  // the grid in between.
  void LayOutRows(int32_t firstRow, int32_t endRow);
  void EndLayout();
  // Starts a round of moves (a tick's eating): HasMoved tells the pellets moved since.
  void StartMoves() { ++Round; }
  // Makes Holds false until the next Load.
  void Invalidate() { Valid = false; }

  // The index of the pellet nearest to (x, y) by the extended Distance, ties to the lower
  // index, exactly as the plain scan over `food` (the pellets as the grid holds them) finds
  // it; and, where asked, the least squared distance in double to any pellet (0 when there
  // is at most one). Requires InRange(x) and InRange(y).
  int32_t Nearest(double x, double y, const TFood* food, double* leastSquare = nullptr) const {
    return Nearest(x, y, food, leastSquare, nullptr);
  }
  // The same, and the pellet's DirectionOf into direction[0] and [1] (loaded with directions).
  // Without `index` the same direction and least square, but -1 where the pellet's index
  // would cost one more read (of a random place in a large grid) than the search made.
  int32_t Nearest(double x, double y, const TFood* food, double* leastSquare, double* direction,
                  bool index = true) const;

  // Writes, in increasing order, the index of every pellet that may lie less than
  // `distance` from (x, y): every pellet that does is among them. Returns their number;
  // `indices` has room for every pellet loaded. Requires InRange(x) and InRange(y).
  int32_t WithinEatingReach(double x, double y, double distance, int32_t* indices) const;

  // WithinEatingReach in two unsorted halves: the pellets not moved since StartMoves (which
  // may be gathered before any Move, on any thread: they are found the same way later as
  // long as they have not moved), and those moved since.
  int32_t LoadedWithinEatingReach(double x, double y, double distance, int32_t* indices) const;
  int32_t MovedWithinEatingReach(double x, double y, double distance, int32_t* indices) const;
  // Asks for what a Move of pellet `index` reads first.
  void Prefetch(int32_t index) const {
    __builtin_prefetch(&Pellets[index], 1);
    __builtin_prefetch(&EntryOf[index], 1);
    __builtin_prefetch(&CellOf[index], 1);
  }
  // Whether pellet `index` moved since StartMoves.
  bool HasMoved(int32_t index) const { return Pellets[index].MovedIn == Round; }

  // The cells a search for anything less than `distance` from (x, y) covers. Requires
  // InRange(x) and InRange(y).
  TCellBlock CellsWithin(double x, double y, double distance) const { return Shape.CellsWithin(x, y, distance); }
  // Cells are numbered row by row, Columns() to a row.
  int32_t Columns() const { return Shape.Columns; }
  int32_t Rows() const { return Shape.Rows; }
  int32_t Cells() const { return Shape.Cells(); }
  int32_t CellOfPoint(double x, double y) const { return Shape.CellOfPoint(x, y); }

  // Coordinates the grid takes: far beyond any field, and small enough that the rounding of
  // cell boundaries stays below Slack.
  static bool InRange(double v) { return std::fabs(v) <= 0x1p20; }

 private:
  static bool SameBits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
  }
  // Calls visit(index, pellet) for every pellet in the lists of cells first .. last.
  template <typename TVisit>
  void VisitMoved(int32_t first, int32_t last, TVisit&& visit) const {
    for (int32_t cell = first; cell <= last; ++cell)
      for (int32_t j = Cell[cell].FirstMoved; j >= 0; j = Pellets[j].NextMoved) visit(j, Pellets[j]);
  }
  // The listed pellets that may lie less than `distance` from (x, y): those moved in this
  // round (thisRound) or those moved before it.
  int32_t ListedWithinReach(double x, double y, double distance, bool thisRound, int32_t* indices) const;

  int32_t Count = 0;
  int32_t LoadedWidth = 0, LoadedHeight = 0;
  bool Valid = false;
  TCellShape Shape;  // about one cell per pellet
  double CellWidth = 1, CellHeight = 1;
  // By index: the pellet where it lies and, once moved, its links in its cell's list of
  // moved pellets (-1 ends a list) and the round it last moved in, all in one place for the
  // searches that walk the lists.
  struct TPellet {
    double X, Y;
    int32_t NextMoved, PreviousMoved;
    uint64_t MovedIn;
    double DirectionX, DirectionY;  // kept when loaded with directions
  };
  bool Directions = false;
  TUninitialisedVector<TPellet> Pellets;
  TUninitialisedVector<int32_t> CellOf;
  // Cell c's pellets as Sort laid them out are entries Cell[c].Start .. Cell[c + 1].Start - 1
  // of the sorted lists, so a row of cells is one run of entries. A pellet moved since keeps
  // its entry with infinite coordinates, and is listed from its new cell's FirstMoved: a
  // doubly linked list, so that a pellet moved again leaves it at once (-1 ends a list).
  // Both in one place, so that a search reads a row's bounds and lists from one cache line.
  struct TCell {
    int32_t Start, FirstMoved;
  };
  TUninitialisedVector<TCell> Cell;  // one more than the cells: the last holds the end
  // A sorted entry: the pellet's position, and its direction, in the cache line the search
  // that finds it has just read.
  struct TEntry {
    double X, Y;
    double DirectionX, DirectionY;
  };
  TUninitialisedVector<int32_t> SortedIndex;
  TUninitialisedVector<TEntry> Sorted;
  TUninitialisedVector<int32_t> EntryOf;  // by index: its entry in the sorted lists, -1 once moved
  int32_t MovedCount = 0;  // moves since Sort
  uint64_t Round = 1;
  TUninitialisedVector<int32_t> Next;  // Sort's scratch
  // The pellets in each row of cells (sorted or listed), kept by every move, so that a band
  // of rows knows where its entries begin in a new layout; and that layout while it is made.
  std::vector<int32_t> RowCount;
  TUninitialisedVector<TCell> NewCell;
  TUninitialisedVector<int32_t> NewSortedIndex;
  TUninitialisedVector<TEntry> NewSorted;
};

}  // namespace zemlix
