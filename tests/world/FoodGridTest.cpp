// The pellet grid kept from tick to tick: after any sequence of moves (and the layouts Sort
// makes of them) its answers must be the plain scans' over the pellets where they lie now.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "world/AdvancedMathUnit.h"
#include "world/FoodGrid.h"

#include "tests/world/PlainNearest.h"

namespace zemlix {
namespace {

// The pellets the grid offers within reach, kept to those truly within it.
std::vector<int32_t> Within(const std::vector<TFood>& food, const int32_t* indices, int32_t count, double x,
                            double y, double distance) {
  std::vector<int32_t> kept;
  for (int32_t k = 0; k < count; ++k)
    if (Distance(x, y, food[indices[k]].X, food[indices[k]].Y) < distance) kept.push_back(indices[k]);
  std::sort(kept.begin(), kept.end());
  return kept;
}

std::vector<int32_t> PlainWithin(const std::vector<TFood>& food, double x, double y, double distance) {
  std::vector<int32_t> kept;
  for (size_t j = 0; j < food.size(); ++j)
    if (Distance(x, y, food[j].X, food[j].Y) < distance) kept.push_back(static_cast<int32_t>(j));
  return kept;
}

TEST(KeptPelletGrid, MovesAndLayoutsMatchThePlainScans) {
  struct TCase {
    const char* Name;
    int32_t Pellets, Width, Height;
    int32_t MovesPerRound;
    bool Heaped;    // moves land on a few points: equal distances, crowded lists
    int32_t Bands;  // new layouts made by LayOutRows in this many bands, the last first (0: Sort)
  };
  const TCase cases[] = {
      {"few moves a round", 400, 500, 500, 5, false, 0},
      {"many moves a round, new layouts", 400, 500, 500, 90, false, 0},
      {"long thin field", 300, 3000, 40, 20, false, 0},
      {"moves heaped on three points", 300, 300, 300, 30, true, 0},
      {"one pellet", 1, 200, 200, 1, false, 0},
      {"new layouts in one band", 400, 500, 500, 90, false, 1},
      {"new layouts in three bands", 400, 500, 500, 60, false, 3},
      {"heaped moves, layouts in more bands than rows", 300, 300, 300, 30, true, 40},
  };
  for (const TCase& sized : cases) {
    SCOPED_TRACE(sized.Name);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> x(0, sized.Width), y(0, sized.Height);
    std::vector<TFood> food(sized.Pellets);
    for (TFood& f : food) f = {x(random), y(random)};
    TFoodGrid grid;
    ASSERT_TRUE(grid.Load(food.data(), sized.Pellets, sized.Width, sized.Height, true));
    std::vector<int32_t> indices(sized.Pellets);
    int32_t sorts = 0;
    for (int round = 0; round < 40; ++round) {
      if (grid.WantsSort()) {
        if (sized.Bands == 0) grid.Sort();
        for (int32_t band = sized.Bands - 1; band >= 0; --band)
          grid.LayOutRows(grid.Rows() * band / sized.Bands, grid.Rows() * (band + 1) / sized.Bands);
        if (sized.Bands > 0) grid.EndLayout();
        ++sorts;
      }
      grid.StartMoves();
      std::vector<bool> movedNow(sized.Pellets, false);
      for (int m = 0; m < sized.MovesPerRound; ++m) {
        // Some pellets move twice in a round, some back onto their own spot.
        const int32_t j = static_cast<int32_t>(random() % sized.Pellets);
        const double spots[][2] = {{100.5, 100.5}, {100.5, 110.5}, {110.5, 100.5}};
        if (sized.Heaped) food[j] = {spots[m % 3][0], spots[m % 3][1]};
        else if (m % 7 == 3) food[j] = food[j];
        else food[j] = {x(random), y(random)};
        ASSERT_TRUE(grid.Move(j, food[j]));
        movedNow[j] = true;
        ASSERT_TRUE(grid.LiesAt(j, food[j]));
      }
      for (int32_t j = 0; j < sized.Pellets; ++j) ASSERT_EQ(grid.HasMoved(j), movedNow[j]) << "pellet " << j;
      for (int probe = 0; probe < 60; ++probe) {
        const double px = probe % 4 == 0 ? 100.5 + (probe % 3) : x(random);
        const double py = probe % 4 == 0 ? 100.5 : y(random);
        double least = -1, direction[2], expected[2];
        const int32_t nearest = NearestFoodPlain(food, px, py);
        ASSERT_EQ(grid.Nearest(px, py, food.data(), &least, direction), nearest)
            << "round " << round << " at " << px << ", " << py;
        // Its direction, kept beside it through every move and layout, bit for bit.
        TFoodGrid::DirectionOf(food[nearest].X, food[nearest].Y, expected[0], expected[1]);
        ASSERT_EQ(std::memcmp(direction, expected, sizeof direction), 0) << "round " << round;
        // Without the index: the same direction and least square, the index or -1.
        double leastAlone = -1, directionAlone[2];
        const int32_t alone = grid.Nearest(px, py, food.data(), &leastAlone, directionAlone, false);
        EXPECT_TRUE(alone == nearest || alone == -1) << alone;
        ASSERT_EQ(std::memcmp(directionAlone, expected, sizeof directionAlone), 0) << "round " << round;
        ASSERT_EQ(leastAlone, least);
        if (sized.Pellets > 1) {
          const double dx = food[NearestFoodPlain(food, px, py)].X - px, dy = food[NearestFoodPlain(food, px, py)].Y - py;
          EXPECT_LE(least, (dx * dx + dy * dy) * (1 + 1e-12));
        }
        for (double reach : {6.0, 25.0}) {
          const std::vector<int32_t> expected = PlainWithin(food, px, py, reach);
          int32_t count = grid.WithinEatingReach(px, py, reach, indices.data());
          ASSERT_EQ(Within(food, indices.data(), count, px, py, reach), expected) << "round " << round;
          // The two halves: not moved in this round, and moved in it; together everything.
          count = grid.LoadedWithinEatingReach(px, py, reach, indices.data());
          const int32_t loaded = count;
          count += grid.MovedWithinEatingReach(px, py, reach, indices.data() + count);
          ASSERT_EQ(Within(food, indices.data(), count, px, py, reach), expected) << "round " << round;
          for (int32_t k = 0; k < count; ++k) ASSERT_EQ(grid.HasMoved(indices[k]), k >= loaded);
        }
      }
    }
    if (sized.MovesPerRound * 40 > sized.Pellets) {
      EXPECT_GT(sorts, 0);
    }
    // A pellet beyond the grid's range: the grid no longer serves until loaded again.
    EXPECT_TRUE(grid.Holds(sized.Pellets, sized.Width, sized.Height));
    EXPECT_FALSE(grid.Holds(sized.Pellets, sized.Width + 1, sized.Height));
    EXPECT_FALSE(grid.Move(0, {1e30, 5}));
    EXPECT_FALSE(grid.Holds(sized.Pellets, sized.Width, sized.Height));
  }
}

// A grid loaded in parts (as the tick's threads load a fresh one, each its run of pellets, in
// any order, and then sort it in bands of rows) must answer as one loaded whole, and must
// refuse to serve when any part holds a pellet beyond its range.
TEST(KeptPelletGrid, ALoadInPartsMatchesAWholeLoad) {
  struct TCase {
    const char* Name;
    std::vector<int32_t> Bounds;  // the parts' first pellets, then the end
    bool Reversed;                // the later parts loaded (and their bands sorted) first
    int32_t FarPellet;            // -1: none
    int32_t Bands;                // sorted by SortRows in this many bands (0: by FinishLoad)
  };
  const TCase cases[] = {
      {"one part", {0, 500}, false, -1, 0},
      {"uneven parts", {0, 1, 170, 171, 499, 500}, false, -1, 0},
      {"parts in reverse order", {0, 123, 250, 377, 500}, true, -1, 0},
      {"a pellet out of range in the last part", {0, 250, 500}, false, 420, 0},
      {"sorted in three bands, the last first", {0, 250, 500}, true, -1, 3},
      {"sorted in more bands than rows", {0, 250, 500}, false, -1, 60},
  };
  for (const TCase& split : cases) {
    SCOPED_TRACE(split.Name);
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> x(0, 700), y(0, 300);
    std::vector<TFood> food(500);
    for (TFood& f : food) f = {x(random), y(random)};
    if (split.FarPellet >= 0) food[split.FarPellet].X = 1e30;
    // A grid that held other pellets on another field before: nothing of it may remain.
    TFoodGrid grid;
    std::vector<TFood> before(800, TFood{5, 5});
    ASSERT_TRUE(grid.Load(before.data(), 800, 100, 100, true));
    ASSERT_TRUE(grid.Reserve(500, 700, 300, true));
    bool inRange = true;
    const size_t parts = split.Bounds.size() - 1;
    for (size_t k = 0; k < parts; ++k) {
      const size_t part = split.Reversed ? parts - 1 - k : k;
      inRange = grid.LoadPart(food.data(), split.Bounds[part], split.Bounds[part + 1]) && inRange;
    }
    if (split.FarPellet >= 0) {
      EXPECT_FALSE(grid.FinishLoad(inRange));
      EXPECT_FALSE(grid.Holds(500, 700, 300));
      continue;
    }
    for (int32_t k = 0; k < split.Bands; ++k) {
      const int32_t band = split.Reversed ? split.Bands - 1 - k : k;
      grid.SortRows(grid.Rows() * band / split.Bands, grid.Rows() * (band + 1) / split.Bands);
    }
    ASSERT_TRUE(grid.FinishLoad(inRange, split.Bands > 0));
    ASSERT_TRUE(grid.Holds(500, 700, 300));
    grid.StartMoves();
    std::vector<int32_t> indices(500);
    for (int probe = 0; probe < 200; ++probe) {
      const double px = x(random), py = y(random);
      double least = -1, direction[2], expected[2];
      const int32_t nearest = NearestFoodPlain(food, px, py);
      ASSERT_EQ(grid.Nearest(px, py, food.data(), &least, direction), nearest) << px << ", " << py;
      TFoodGrid::DirectionOf(food[nearest].X, food[nearest].Y, expected[0], expected[1]);
      ASSERT_EQ(std::memcmp(direction, expected, sizeof direction), 0);
      const int32_t count = grid.WithinEatingReach(px, py, 30, indices.data());
      ASSERT_EQ(Within(food, indices.data(), count, px, py, 30), PlainWithin(food, px, py, 30));
    }
    // Moves and a new layout after a load in parts.
    for (int32_t j = 0; j < 200; j += 2) {
      food[j] = {x(random), y(random)};
      ASSERT_TRUE(grid.Move(j, food[j]));
    }
    ASSERT_TRUE(grid.WantsSort());
    grid.Sort();
    for (int probe = 0; probe < 100; ++probe) {
      const double px = x(random), py = y(random);
      ASSERT_EQ(grid.Nearest(px, py, food.data()), NearestFoodPlain(food, px, py)) << px << ", " << py;
    }
  }
}

// The first search covers the bug's cell's 3 x 3 block and stops once nothing outside can be
// nearer than the nearest pellet inside: a pellet just beyond the block's nearest side, and
// nearer, must still win, and lose when a hair farther.
TEST(KeptPelletGrid, PelletsJustBeyondTheFirstBlockOnEverySide) {
  // 1600 pellets on 400 x 400: cells of 10; every bug below is in cell (20, 20), whose block
  // spans 190 .. 220 both ways, 12 from the bug on the side named.
  struct TCase {
    const char* Name;
    TFood Bug, Inside, Outside;  // the pellet inside 13 from the bug
    bool Moved;                  // the outside one placed by a move after the load
    bool OutsideWins;
  };
  const TCase cases[] = {
      {"left", {202, 205}, {215, 205}, {189.9, 205}, false, true},
      {"right", {208, 205}, {195, 205}, {220.1, 205}, false, true},
      {"top", {205, 202}, {205, 215}, {205, 189.9}, false, true},
      {"bottom", {205, 208}, {205, 195}, {205, 220.1}, false, true},
      {"left, moved there", {202, 205}, {215, 205}, {189.9, 205}, true, true},
      {"right, a hair farther", {208, 205}, {195, 205}, {221.000001, 205}, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TFood> food(1600, TFood{395, 395});  // the rest far off in a corner
    food[700] = c.Inside;
    food[900] = c.Moved ? TFood{5, 5} : c.Outside;
    TFoodGrid grid;
    ASSERT_TRUE(grid.Load(food.data(), 1600, 400, 400, true));
    ASSERT_EQ(grid.Columns(), 40);
    if (c.Moved) {
      grid.StartMoves();
      food[900] = c.Outside;
      ASSERT_TRUE(grid.Move(900, food[900]));
    }
    double least = -1;
    const int32_t nearest = grid.Nearest(c.Bug.X, c.Bug.Y, food.data(), &least);
    EXPECT_EQ(nearest, c.OutsideWins ? 900 : 700);
    EXPECT_EQ(nearest, NearestFoodPlain(food, c.Bug.X, c.Bug.Y));
    const double dx = food[nearest].X - c.Bug.X, dy = food[nearest].Y - c.Bug.Y;
    EXPECT_EQ(least, dx * dx + dy * dy);
  }
}

}  // namespace
}  // namespace zemlix
