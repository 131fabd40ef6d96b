// The world's fast paths (look vector, nearest pellet, eating) against the plain
// extended-precision evaluation, bit for bit, and whole worlds run both ways in lockstep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <thread>
#include <stdexcept>
#include <future>
#include <chrono>
#include <atomic>
#include <limits>
#include <random>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "ai/SigmoidBatch.h"
#include "world/AdvancedMathUnit.h"
#include "world/Creature.h"
#include "world/LookVectorFast.h"
#include "world/NearestPellet.h"
#include "world/World.h"

#include "tests/support/Bits.h"
#include "tests/world/PlainNearest.h"

namespace zemlix {
namespace {

using testing::Bits;

class TTestHost : public TWorldHost {
 public:
  TTestHost(int32_t width, int32_t height, int32_t bugs, int32_t food, int32_t lifetime)
      : Width(width), Height(height), Bugs(bugs), FoodPellets(food), Lifetime(lifetime) {}
  int32_t FieldWidth() const override { return Width; }
  int32_t FieldHeight() const override { return Height; }
  int32_t NumberOfBugs() const override { return Bugs; }
  int32_t NumberOfFood() const override { return FoodPellets; }
  int32_t CreatureLifetime() const override { return Lifetime; }
  // Worlds beyond the window's counts, as the runner builds them.
  int32_t MaximumBugs() const override { return Bugs; }
  int32_t MaximumFood() const override { return FoodPellets; }
  int32_t Width, Height, Bugs, FoodPellets, Lifetime;
};

// Runs `step` with the plain evaluation switched on, and switches it off again.
template <class Step>
void Plainly(Step&& step) {
  SetPlainEvaluation(true);
  step();
  SetPlainEvaluation(false);
}

// ---- Look vector ----------------------------------------------------------------------

int64_t LookMismatches = 0;

void ExpectSameLook(double heading) {
  double fastX = 7, fastY = 7, plainX = 7, plainY = 7;
  LookVector(heading, fastX, fastY);
  LookVectorReference(heading, plainX, plainY);
  const bool same = (std::isnan(plainX) ? std::isnan(fastX) : Bits(fastX) == Bits(plainX)) &&
                    (std::isnan(plainY) ? std::isnan(fastY) : Bits(fastY) == Bits(plainY));
  if (!same && ++LookMismatches < 10)
    ADD_FAILURE() << std::hexfloat << "heading " << heading << ": " << fastX << ", " << fastY << " instead of "
                  << plainX << ", " << plainY;
}

TEST(LookVectorExactness, EdgeHeadingsMatchTheDefinition) {
  LookMismatches = 0;
  const double inf = std::numeric_limits<double>::infinity();
  const double twoPi = static_cast<double>(Pi2);
  for (double h : {0.0, -0.0, 1e-300, -1e-300, std::numeric_limits<double>::denorm_min(), 1e-10, 0.03125, 0.0625,
                   twoPi, -twoPi, std::nextafter(twoPi, inf), std::nextafter(-twoPi, -inf), 6.6, -6.6, 7.0, -7.0,
                   std::nextafter(7.0, inf), 7.03125, 100.0, -1e10, 1e300, inf, -inf,
                   std::numeric_limits<double>::quiet_NaN()})
    ExpectSameLook(h);
  // Around every zero of sine and cosine in the fast range, where the results are tiny and
  // the bounds are widest relative to them; and around every table point m/16.
  for (int k = -4; k <= 4; ++k) {
    const double zero = static_cast<double>(k * (Pi2 / 4));
    double below = zero, above = zero;
    for (int n = 0; n < 3000; ++n) {
      ExpectSameLook(below);
      ExpectSameLook(above);
      below = std::nextafter(below, -inf);
      above = std::nextafter(above, inf);
    }
    for (double d = 1e-12; d < 1e-2; d *= 1.5) {
      ExpectSameLook(zero + d);
      ExpectSameLook(zero - d);
    }
  }
  for (int m = -113; m <= 113; ++m) {
    const double point = m / 16.0;
    ExpectSameLook(point);
    ExpectSameLook(std::nextafter(point, inf));
    ExpectSameLook(std::nextafter(point, -inf));
    ExpectSameLook(point + 1 / 32.0);
  }
  EXPECT_EQ(LookMismatches, 0);
}

TEST(LookVectorExactness, MillionsOfHeadingsMatchTheDefinition) {
  LookMismatches = 0;
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> range(-6.6, 6.6), wide(-7.5, 7.5);
  int64_t cases = 0, undecided = 0;
  for (int i = 0; i < 1000000; ++i) {
    const double h = i % 8 == 0 ? wide(random) : range(random);
    double x, y;
    ++cases;
    if (!LookVectorFast(h, x, y)) ++undecided;
    ExpectSameLook(h);
  }
  EXPECT_EQ(LookMismatches, 0);
  // Each of the two values is left to sinl or cosl about 1 % of the time, plus the headings
  // beyond 7; far more would mean a broken bound.
  EXPECT_LT(undecided, cases / 15) << undecided << " of " << cases;
  std::printf("[   INFO   ] %lld headings, %lld (%.3f %%) left to sinl and cosl\n", static_cast<long long>(cases),
              static_cast<long long>(undecided), 100.0 * undecided / cases);
}

// The batched look vector through each kernel this machine runs, against the definition:
// random headings, every table point of the AVX2 kernel (m/64) and of the x87 path (m/16)
// with their neighbours, the zeros of sine and cosine, and the edges of the fast range.
TEST(LookVectorExactness, BatchesMatchTheDefinitionThroughEveryKernel) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> headings = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300,
                                  std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::min()};
  std::mt19937_64 random(41);
  std::uniform_real_distribution<double> range(-6.6, 6.6), wide(-7.5, 7.5), near(-1, 1);
  for (int i = 0; i < 2000000; ++i) headings.push_back(i % 8 == 0 ? wide(random) : range(random));
  for (int m = -448; m <= 448; ++m) {
    double point = m / 64.0, above = point, below = point;
    for (int n = 0; n < 8; ++n, above = std::nextafter(above, inf), below = std::nextafter(below, -inf))
      headings.insert(headings.end(), {above, below});
    headings.insert(headings.end(), {point + 1 / 128.0, point - 1 / 128.0});
  }
  for (int k = -4; k <= 4; ++k) {
    const double zero = static_cast<double>(k * (Pi2 / 4));
    for (int i = 0; i < 20000; ++i) headings.push_back(zero + near(random) * std::ldexp(1.0, -static_cast<int>(random() % 50)));
  }
  for (double edge : {7.0, -7.0}) headings.insert(headings.end(), {edge, std::nextafter(edge, inf), std::nextafter(edge, -inf)});

  std::vector<double> plainX(headings.size()), plainY(headings.size());
  for (size_t i = 0; i < headings.size(); ++i) LookVectorReference(headings[i], plainX[i], plainY[i]);
  for (const TBatchKernel kernel : AvailableBatchKernels()) {
    ForceBatchKernel(kernel);
    std::vector<double> x(headings.size(), 7.0), y(headings.size(), 7.0);
    // Odd batch sizes, so the kernel's padded tail runs too.
    for (size_t start = 0; start < headings.size(); start += 203) {
      const auto count = static_cast<int32_t>(std::min<size_t>(203, headings.size() - start));
      LookVectorBatch(headings.data() + start, x.data() + start, y.data() + start, count);
    }
    int64_t mismatches = 0;
    for (size_t i = 0; i < headings.size(); ++i) {
      const bool same = (std::isnan(plainX[i]) ? std::isnan(x[i]) : Bits(x[i]) == Bits(plainX[i])) &&
                        (std::isnan(plainY[i]) ? std::isnan(y[i]) : Bits(y[i]) == Bits(plainY[i]));
      if (!same && ++mismatches < 10)
        ADD_FAILURE() << BatchKernelName(kernel) << std::hexfloat << ": heading " << headings[i] << " gives "
                      << x[i] << ", " << y[i] << " instead of " << plainX[i] << ", " << plainY[i];
    }
    EXPECT_EQ(mismatches, 0) << BatchKernelName(kernel) << " of " << headings.size();
  }
  ReleaseBatchKernel();
}

// The double-double kernel must decide nearly every value itself (about 0.2 % are left),
// or it costs the speed it exists for.
TEST(LookVectorExactness, TheAvx2KernelDecidesNearlyEveryValue) {
  if (AvailableBatchKernels().size() < 2) GTEST_SKIP() << "this processor has no AVX2 and FMA";
  std::mt19937_64 random(43);
  std::uniform_real_distribution<double> range(-6.6, 6.6);
  std::vector<double> headings(100001), x(headings.size()), y(headings.size());
  for (double& h : headings) h = range(random);
  std::vector<uint8_t> decided(headings.size());
  LookVectorBatchAvx2(headings.data(), x.data(), y.data(), static_cast<int32_t>(headings.size()), decided.data());
  int64_t left = 0;
  for (uint8_t d : decided) left += (d & LookXDecided ? 0 : 1) + (d & LookYDecided ? 0 : 1);
  EXPECT_LT(left, static_cast<int64_t>(headings.size()) / 50);
  std::printf("[   INFO   ] %lld of %zu values left to the x87 path\n", static_cast<long long>(left), 2 * headings.size());
}

// ---- Nearest pellet ---------------------------------------------------------------------

// The plain scan as the tick defines it.
int32_t PlainNearest(const TWorld& world, double x, double y) {
  long double best = Distance(x, y, world.Food[0].X, world.Food[0].Y);
  int32_t nearest = 0;
  for (int32_t j = 1; j < world.FoodCount; ++j) {
    const long double d = Distance(x, y, world.Food[j].X, world.Food[j].Y);
    if (d < best) {
      best = d;
      nearest = j;
    }
  }
  return nearest;
}

class TNearestFoodExactness : public ::testing::Test {
 protected:
  TTestHost Host{400, 400, 200, 100, 2000};
  TWorld World{Host};
  int64_t Mismatches = 0;

  void ExpectSameNearest(double x, double y) {
    const int32_t fast = World.NearestFood(x, y);
    const int32_t plain = PlainNearest(World, x, y);
    if (fast != plain && ++Mismatches < 10)
      ADD_FAILURE() << std::hexfloat << "bug at " << x << ", " << y << ": pellet " << fast << " instead of " << plain;
  }
};

TEST_F(TNearestFoodExactness, RandomLayoutsMatchThePlainScan) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> field(0, 400), around(-20, 420);
  for (int layout = 0; layout < 200; ++layout) {
    World.FoodCount = layout % 4 == 0 ? 1 + static_cast<int32_t>(random() % 100) : 100;
    for (TFood& f : World.Food) f = {field(random), field(random)};
    for (int i = 0; i < 400; ++i) ExpectSameNearest(around(random), around(random));
  }
  EXPECT_EQ(Mismatches, 0);
}

// Ties at equal distance, equal squared sums that differ by rounding only, duplicate
// pellets, pellets on cell boundaries and beyond the field's edges.
TEST_F(TNearestFoodExactness, AdversarialLayoutsMatchThePlainScan) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> field(0, 400), offset(0.5, 60);
  for (int layout = 0; layout < 3000; ++layout) {
    World.FoodCount = 100;
    const double x = field(random), y = field(random), d = offset(random);
    for (TFood& f : World.Food) f = {field(random), field(random)};
    // Symmetric pellets at one distance, at random indices, some duplicated.
    const double ring[][2] = {{x + d, y}, {x - d, y}, {x, y + d}, {x, y - d}, {x + d, y}, {x - d, y - d}};
    for (const auto& p : ring) World.Food[random() % 100] = {p[0], p[1]};
    // Neighbours one unit in the last place further or nearer.
    World.Food[random() % 100] = {std::nextafter(x + d, 1e9), y};
    World.Food[random() % 100] = {x, std::nextafter(y - d, -1e9)};
    ExpectSameNearest(x, y);
    ExpectSameNearest(std::nextafter(x, 1e9), y);
  }
  // Cell boundaries (multiples of 40 for 100 pellets on 400) and the field's edges.
  for (int layout = 0; layout < 200; ++layout) {
    for (TFood& f : World.Food) f = {40.0 * (random() % 11), 40.0 * (random() % 11)};
    World.Food[random() % 100] = {-35.0, 410.0};
    World.Food[random() % 100] = {450.0, -5.0};
    for (int i = 0; i < 50; ++i) {
      const double x = 40.0 * (random() % 12) - 20, y = 40.0 * (random() % 12) - 20;
      ExpectSameNearest(x, y);
      ExpectSameNearest(std::nextafter(x, -1e9), std::nextafter(y, 1e9));
      ExpectSameNearest(x + 20, y + 20);
    }
  }
  // A bug on a pellet, far outside the field, and coordinates beyond the fast range.
  World.Food[17] = {123.5, 77.25};
  ExpectSameNearest(123.5, 77.25);
  ExpectSameNearest(-5000, 9000);
  ExpectSameNearest(1e30, -1e30);
  World.Food[3] = {1e25, 5};
  ExpectSameNearest(200, 200);
  ExpectSameNearest(1e25, 4);
  EXPECT_EQ(Mismatches, 0);
}

// ---- Eating and whole worlds ------------------------------------------------------------

void ExpectSameWorld(const TWorld& fast, const TWorld& plain, int tick) {
  ASSERT_EQ(fast.Random.Seed, plain.Random.Seed) << "tick " << tick;
  ASSERT_EQ(fast.TotalFitness, plain.TotalFitness) << "tick " << tick;
  ASSERT_EQ(fast.Generation, plain.Generation) << "tick " << tick;
  ASSERT_EQ(Bits(fast.AverageFitness), Bits(plain.AverageFitness)) << "tick " << tick;
  ASSERT_EQ(fast.SelectedBugFood, plain.SelectedBugFood) << "tick " << tick;
  for (size_t b = 0; b < fast.Creatures.size(); ++b) {
    const TCreature& f = fast.Creatures[b];
    const TCreature& p = plain.Creatures[b];
    ASSERT_TRUE(Bits(f.X) == Bits(p.X) && Bits(f.Y) == Bits(p.Y) && Bits(f.Heading) == Bits(p.Heading) &&
                Bits(f.Speed) == Bits(p.Speed) && Bits(f.LookX) == Bits(p.LookX) && Bits(f.LookY) == Bits(p.LookY))
        << "bug " << b << " at tick " << tick;
    ASSERT_EQ(fast.Nets[b].Fitness, plain.Nets[b].Fitness) << "bug " << b << " at tick " << tick;
  }
  for (size_t j = 0; j < fast.Food.size(); ++j)
    ASSERT_TRUE(Bits(fast.Food[j].X) == Bits(plain.Food[j].X) && Bits(fast.Food[j].Y) == Bits(plain.Food[j].Y))
        << "pellet " << j << " at tick " << tick;
  TWeightList fastWeights(fast.GenomeLength), plainWeights(plain.GenomeLength);
  for (size_t b = 0; b < fast.Nets.size(); ++b) {
    fast.Nets[b].GetWeights(fastWeights);
    plain.Nets[b].GetWeights(plainWeights);
    ASSERT_EQ(fastWeights, plainWeights) << "network " << b << " at tick " << tick;
  }
}

// Two worlds from one seed, one ticked through the plain evaluation, compared after every
// tick: the full tick, generation ends included.
void RunInLockstep(TTestHost& host, uint32_t seed, int ticks) {
  TWorld fast(host), plain(host);
  fast.Random.Seed = plain.Random.Seed = seed;
  fast.BuildPopulation();
  Plainly([&] { plain.BuildPopulation(); });
  ExpectSameWorld(fast, plain, 0);
  for (int tick = 1; tick <= ticks; ++tick) {
    fast.Tick();
    Plainly([&] { plain.Tick(); });
    ExpectSameWorld(fast, plain, tick);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(fast.Generation, 0);
}

TEST(WorldLockstep, FullFieldMatchesThePlainEvaluation) {
  TTestHost host(400, 400, 200, 100, 500);
  RunInLockstep(host, 1, 520);
}

// A small crowded field: many pellets eaten per tick, pellets re-placed next to later bugs,
// bugs wrapping at the edges all the time.
TEST(WorldLockstep, CrowdedSmallFieldMatchesThePlainEvaluation) {
  TTestHost host(48, 40, 60, 30, 500);
  RunInLockstep(host, 77, 520);
}

// Eating at exactly 6 and just inside, with pellets in every cell around the bug.
TEST(EatFoodExactness, BoundaryDistancesMatchThePlainEvaluation) {
  TTestHost host(400, 400, 5, 10, 2000);
  TWorld fast(host), plain(host);
  fast.Random.Seed = plain.Random.Seed = 3;
  fast.BuildPopulation();
  plain.BuildPopulation();
  const double x = 200, y = 120;
  const double sixth = std::nextafter(6.0, 0.0);
  const TFood layout[] = {{x + 6, y},  {x, y - 6},     {x + sixth, y}, {x - 3.6, y + 4.8}, {x + 4.8, y - 3.6},
                          {x, y},      {x - 5.999, y}, {x + 4.2426406871192848, y + 4.2426406871192848},
                          {x + 7, y},  {x, y + 6.0000000000000009}};
  for (TWorld* world : {&fast, &plain}) {
    for (int j = 0; j < 10; ++j) world->Food[j] = layout[j];
    for (TCreature& c : world->Creatures) c.X = c.Y = 10;
    world->Creatures[0].X = world->Creatures[2].X = x;
    world->Creatures[0].Y = world->Creatures[2].Y = y;
  }
  fast.EatFood();
  Plainly([&] { plain.EatFood(); });
  ExpectSameWorld(fast, plain, 0);
  // Exactly 6 away is not eaten; the three pellets clearly inside are; the diagonal ones are
  // 6 only up to rounding, and the plain evaluation decides them.
  EXPECT_GE(plain.Nets[0].Fitness, 3);
  EXPECT_LE(plain.Nets[0].Fitness, 6);
}

// Dense worlds, where a bug has many pellets within reach and an eaten pellet lands within
// reach of many later bugs: the order of the bugs' turns, of the pellets a bug eats and so
// of the draws that re-place them must be the plain evaluation's, on one thread or two.
TEST(EatFoodExactness, DenseWorldsMatchThePlainEvaluation) {
  struct TCase {
    const char* Name;
    int32_t Width, Height, Bugs, Food;
    double EatingDistance;
    int32_t Threads, Ticks;
    bool Crowd;  // pellets and bugs heaped by hand around two spots
  };
  const TCase cases[] = {
      {"dense", 60, 60, 450, 1100, 6, 2, 4, false},
      {"everything within reach", 50, 50, 420, 1100, 100, 1, 2, false},
      {"long thin field", 3000, 50, 450, 1100, 6, 2, 6, false},
      {"sparse, turns gathered", 900, 900, 3000, 1100, 6, 2, 6, false},
      {"crowded cells", 60, 60, 450, 1100, 6, 2, 4, true},
      {"few pellets in the lanes, three threads", 400, 400, 1000, 120, 6, 3, 30, false},
  };
  for (const TCase& sized : cases) {
    SCOPED_TRACE(sized.Name);
    TTestHost host(sized.Width, sized.Height, sized.Bugs, sized.Food, 2000);
    TWorld fast(host), plain(host);
    fast.Threads = sized.Threads;
    for (TWorld* world : {&fast, &plain}) {
      world->Parameters.EatingDistance = sized.EatingDistance;
      world->Random.Seed = 21;
      Plainly([&] { world->BuildPopulation(); });
      if (!sized.Crowd) continue;
      // A third of the pellets on one point (equal distances, the lower index first), a
      // third within a square of side 1; bugs just out of reach of the point and among the
      // square's pellets.
      for (int32_t j = 0; j < sized.Food; ++j) {
        if (j % 3 == 0) world->Food[j] = {20.5, 20.5};
        if (j % 3 == 1) world->Food[j] = {40 + (j % 37) / 37.0, 40 + (j % 41) / 41.0};
      }
      for (int32_t b = 0; b < 100; ++b) {
        TCreature& c = world->Creatures[b];
        c.X = b < 50 ? 20.5 + 6.5 * std::cos(b * 0.3) : 40 + (b % 7) / 7.0;
        c.Y = b < 50 ? 20.5 + 6.5 * std::sin(b * 0.3) : 40 + (b % 5) / 5.0;
      }
    }
    int32_t eaten = 0;
    for (int tick = 1; tick <= sized.Ticks; ++tick) {
      const int32_t before = fast.TotalFitness;
      fast.Tick();
      Plainly([&] { plain.Tick(); });
      ExpectSameWorld(fast, plain, tick);
      if (::testing::Test::HasFatalFailure()) return;
      eaten += fast.TotalFitness - before;
    }
    // Every case eats, and the dense ones eat many pellets per bug and tick.
    EXPECT_GT(eaten, sized.Ticks * sized.Bugs * sized.Food / (sized.Width * sized.Height) / 4);
  }
}

// The tick's pellet grid must always show the pellets where they lie now. On any number of
// threads (each block of bugs far smaller than a thread's share, the last one short) the
// ticks stay those of the plain evaluation, also when pellets are placed between ticks by
// other means (a loaded state, a hand): moved far, moved within their cell, put back where
// they were, or re-placed by an eating outside the tick.
TEST(PelletGridExactness, AnyThreadCountWithPelletsPlacedBetweenTicksMatchesThePlainEvaluation) {
  enum class TEdit { None, Far, WithinCell, SameSpot, EatingOutsideTheTick, BeyondRange };
  struct TCase {
    const char* Name;
    int32_t Threads;
    TEdit Edit;
  };
  const TCase cases[] = {
      {"one thread", 1, TEdit::None},         {"two threads", 2, TEdit::None},
      {"three threads", 3, TEdit::None},      {"four threads, pellets moved far", 4, TEdit::Far},
      {"one thread, pellets moved far", 1, TEdit::Far},
      {"three threads, pellets nudged", 3, TEdit::WithinCell},
      {"two threads, pellets put back", 2, TEdit::SameSpot},
      {"two threads, an eating between ticks", 2, TEdit::EatingOutsideTheTick},
      // The grid stops serving, and each tick's threads load a fresh one in parts, the middle
      // part refusing it, until the pellet is back.
      {"three threads, a pellet beyond the grid's range for a while", 3, TEdit::BeyondRange},
  };
  for (const TCase& sized : cases) {
    SCOPED_TRACE(sized.Name);
    TTestHost host(900, 900, 1450, 1100, 20);
    TWorld fast(host), plain(host);
    fast.Threads = sized.Threads;
    for (TWorld* world : {&fast, &plain}) {
      world->Random.Seed = 5;
      Plainly([&] { world->BuildPopulation(); });
    }
    int32_t eaten = 0;
    for (int tick = 1; tick <= 30; ++tick) {
      const int64_t before = fast.TotalFitness;
      fast.Tick();
      Plainly([&] { plain.Tick(); });
      ExpectSameWorld(fast, plain, tick);
      if (::testing::Test::HasFatalFailure()) return;
      eaten += static_cast<int32_t>(fast.TotalFitness - before);
      if (tick % 3 != 0) continue;
      for (TWorld* world : {&fast, &plain}) {
        // Pellets in every thread's rows: near the field's top, middle and bottom.
        for (int32_t j : {7, 550, 1099}) {
          TFood& pellet = world->Food[j];
          if (sized.Edit == TEdit::Far) pellet = {899 - pellet.X, 899 - pellet.Y};
          if (sized.Edit == TEdit::WithinCell) pellet.X = std::nextafter(pellet.X, 0.0);
          if (sized.Edit == TEdit::SameSpot) pellet = TFood{pellet.X + 0.0, pellet.Y};
        }
        if (sized.Edit == TEdit::BeyondRange && (tick == 6 || tick == 12))
          world->Food[550] = tick == 6 ? TFood{-3e6, 450} : TFood{450.25, 450.5};
        if (sized.Edit == TEdit::EatingOutsideTheTick) {
          world->Food[3] = {world->Creatures[11].X, world->Creatures[11].Y};
          Plainly([&] { world->EatFood(); });
        }
      }
      ExpectSameWorld(fast, plain, tick);
    }
    EXPECT_GT(eaten, 0);
    EXPECT_GT(fast.Generation, 0);
  }
}

// A thread that fails before the threads meet in the tick (here the host throws on a worker
// thread) must not leave the others waiting there for good: the tick throws, and the world
// ticks on afterwards.
TEST(PelletGridExactness, AFailureBeforeTheThreadsMeetReachesTheCaller) {
  class TFailingHost : public TTestHost {
   public:
    using TTestHost::TTestHost;
    int32_t FieldWidth() const override {
      if (Failing.load() && std::this_thread::get_id() != Caller) throw std::runtime_error("host");
      return TTestHost::FieldWidth();
    }
    std::atomic<bool> Failing{false};
    std::thread::id Caller;
  };
  TFailingHost host(900, 900, 1450, 1100, 2000);
  TWorld world(host);
  world.Threads = 2;
  world.Random.Seed = 5;
  world.BuildPopulation();
  world.Tick();
  host.Failing = true;
  auto outcome = std::async(std::launch::async, [&] {
    host.Caller = std::this_thread::get_id();
    try {
      world.Tick();
    } catch (const std::runtime_error&) {
      return true;
    }
    return false;
  });
  if (outcome.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "the tick's threads still wait for the one that failed";
    std::_Exit(1);  // its threads can never be joined
  }
  EXPECT_TRUE(outcome.get());
  host.Failing = false;
  const int64_t before = world.TotalFitness;
  for (int tick = 0; tick < 20; ++tick) world.Tick();
  EXPECT_GT(world.TotalFitness, before);
}

// A thread held up in the middle of its share (here by the host, 20 ms a tick): the others
// take over the rest of it piece by piece, and the gathered turns of all those pieces
// still come to the eating in bug order, so the ticks stay those of the plain evaluation.
TEST(PelletGridExactness, SharesTakenOverFromAThreadHeldUpMatchThePlainEvaluation) {
  class TStallingHost : public TTestHost {
   public:
    using TTestHost::TTestHost;
    // Asked by each thread as it starts a block of bugs, and by the caller alone before.
    bool ShowStats() const override {
      if (std::this_thread::get_id() != Caller && Armed.exchange(false))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return TTestHost::ShowStats();
    }
    mutable std::atomic<bool> Armed{false};
    const std::thread::id Caller = std::this_thread::get_id();
  };
  for (const int32_t threads : {2, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    TStallingHost host(900, 900, 1450, 1100, 2000);
    TWorld fast(host), plain(host);
    fast.Threads = threads;
    fast.Profile.Enabled = true;
    for (TWorld* world : {&fast, &plain}) {
      world->Random.Seed = 17;
      Plainly([&] { world->BuildPopulation(); });
    }
    int64_t eaten = 0;
    for (int tick = 1; tick <= 8; ++tick) {
      const int64_t before = fast.TotalFitness;
      host.Armed = true;
      fast.Tick();
      Plainly([&] { plain.Tick(); });
      ExpectSameWorld(fast, plain, tick);
      if (::testing::Test::HasFatalFailure()) return;
      eaten += fast.TotalFitness - before;
    }
    EXPECT_GT(eaten, 0);
    // Most of the held-up thread's share in the first tick at least (the shares follow the
    // threads' speeds after it).
    EXPECT_GT(fast.Profile.TakenBugs, 1450u / threads / 2);
  }
}

// ---- Nearest pellets in vector lanes and the eating they let bugs skip ------------------

// Each kernel's lanes against the plain scan: random pellets, heaps on one point and
// lattices (equal distances, the lower index wins), near-ties finer than a double square
// tells apart, pellets on one vertical line or all to one side of the bugs (where the walk
// outwards in x ends early or never), and bug counts that leave a short last group or run
// past one block of 256.
TEST(LanePelletsExactness, LayoutsMatchThePlainScan) {
  struct TLayout {
    const char* Name;
    double Spacing;  // > 0: a lattice of this step; 0: random; -1: one point; -2: the line x = 50; -3: right of the bugs
    double Jitter;   // each pellet moved by up to this much (relative to 200: 2^-55 is a unit in the last place)
  };
  const TLayout layouts[] = {{"random", 0, 0},        {"one point", -1, 0},   {"lattice", 10, 0},
                             {"fine lattice", 0.5, 0}, {"near-ties", 10, 0x1p-55}, {"looser near-ties", 10, 0x1p-52},
                             {"vertical line", -2, 0},  {"one side", -3, 0}};
  std::mt19937_64 random(17);
  std::uniform_real_distribution<double> field(0, 200), unit(-1, 1);
  for (const TBatchKernel kernel : AvailableBatchKernels()) {
    if (kernel == TBatchKernel::Portable) continue;
    ForceBatchKernel(kernel);
    for (const TLayout& layout : layouts) {
      SCOPED_TRACE(::testing::Message() << BatchKernelName(kernel) << ", " << layout.Name);
      for (const int32_t pellets : {1, 7, 100, 256}) {
        std::vector<TFood> food(pellets);
        for (int32_t j = 0; j < pellets; ++j) {
          const double x = layout.Spacing > 0    ? 100 + layout.Spacing * (j % 9 - 4)
                           : layout.Spacing == -3 ? 180 + field(random) / 10
                           : layout.Spacing < 0   ? 50
                                                  : field(random);
          const double y = layout.Spacing > 0  ? 100 + layout.Spacing * (j / 9 % 9 - 4)
                           : layout.Spacing == -1 ? 50
                                                  : field(random);
          food[j] = {x + 200 * layout.Jitter * unit(random), y + 200 * layout.Jitter * unit(random)};
        }
        // Bugs on lattice points, between them and anywhere.
        const int32_t bugs = pellets == 100 ? 300 : 53;
        std::vector<double> x(bugs), y(bugs), least(bugs);
        std::vector<int32_t> nearest(bugs);
        for (int32_t b = 0; b < bugs; ++b) {
          x[b] = b % 3 == 0 ? 100 + 5.0 * (b % 7 - 3) : field(random);
          y[b] = b % 3 == 0 ? 100 + 5.0 * (b % 5 - 2) : field(random);
        }
        // Loaded once, then again after some pellets moved, as the tick reloads them.
        TLanePellets lanes;
        for (const bool moved : {false, true}) {
          if (moved)
            for (int32_t j = 0; j < pellets; j += 3) food[j] = {field(random), field(random)};
          ASSERT_TRUE(lanes.Load(food.data(), pellets));
          lanes.Nearest(x.data(), y.data(), bugs, nearest.data(), least.data());
          for (int32_t b = 0; b < bugs; ++b) {
            EXPECT_EQ(nearest[b], NearestFoodPlain(food, x[b], y[b])) << "bug " << b << " of " << pellets << (moved ? ", moved" : "");
            const double dx = food[nearest[b]].X - x[b], dy = food[nearest[b]].Y - y[b];
            EXPECT_LE(least[b], dx * dx + dy * dy);
          }
        }
      }
    }
  }
  ReleaseBatchKernel();
}

// Situations where a bug that skipped eating would miss a pellet, in a world whose networks
// all give the same impulses (all weights zero: no turn, one pixel a tick), ticked against
// the plain evaluation: with the lanes (100 pellets) and with the grid (300).
TEST(EatingSkipExactness, HandMadeSituationsMatchThePlainEvaluation) {
  struct TBugPlace {
    int32_t Bug;
    double X, Y, Heading;
  };
  // Places pellets (index, where) knowing where the bugs go (`moved`, a probe world after
  // the update) and where the first pellet eaten will be re-placed (`replaced`).
  using TArrange = std::vector<std::pair<int32_t, TFood>> (*)(const TWorld& moved, TFood replaced);
  struct TCase {
    const char* Name;
    std::vector<TBugPlace> Bugs;
    TArrange Food;
    int32_t Eaten;
  };
  // Set by the cases' bug places below: where the first eaten pellet lands, minus the move.
  TFood replaced{};
  const auto exactlyAhead = [](const TWorld& moved, TFood) {
    // Bug 2 ends exactly 6 from pellet 4 (not eaten), bug 3 one unit in the last place
    // closer to pellet 5 (eaten): both sensed them the eating distance plus their move away.
    const TCreature& b2 = moved.Creatures[2];
    const TCreature& b3 = moved.Creatures[3];
    return std::vector<std::pair<int32_t, TFood>>{{4, {b2.X, b2.Y + 6}}, {5, {b3.X, std::nextafter(b3.Y + 6, 0.0)}}};
  };
  const auto diagonal = [](const TWorld& moved, TFood) {
    const TCreature& b2 = moved.Creatures[2];
    const double step = 6 / std::sqrt(2.0) - 1e-9;
    return std::vector<std::pair<int32_t, TFood>>{{4, {b2.X + step, b2.Y + step}}};
  };
  const auto wraps = [](const TWorld& moved, TFood) {
    return std::vector<std::pair<int32_t, TFood>>{{6, {moved.Creatures[1].X, 3}}};
  };
  const auto replacedNextToALaterBug = [](const TWorld& moved, TFood) {
    return std::vector<std::pair<int32_t, TFood>>{{7, {moved.Creatures[0].X, moved.Creatures[0].Y + 1}}};
  };
  const auto equalDistances = [](const TWorld&, TFood) {  // from where bug 0 senses
    return std::vector<std::pair<int32_t, TFood>>{{9, {130, 100}}, {3, {70, 100}}, {8, {100, 130}}, {5, {100, 70}}};
  };
  for (const int32_t foodCount : {100, 300}) {
    TTestHost host(400, 400, 200, foodCount, 2000);
    // The world before any tick: every bug and pellet parked out of everyone's way.
    uint32_t seed = 1;
    const auto make = [&](TWorld& world, const TCase* scene) {
      world.Random.Seed = seed;
      Plainly([&] { world.BuildPopulation(); });
      for (TNeuralNet& net : world.Nets) std::fill(net.Weights().begin(), net.Weights().end(), 0.0);
      for (int32_t b = 0; b < world.BugCount; ++b) {
        world.Creatures[b].X = 5 + (b % 100) * 3.9;
        world.Creatures[b].Y = b < 100 ? 370 : 380;
        world.Creatures[b].SetHeading(0);
      }
      for (int32_t j = 0; j < world.FoodCount; ++j) world.Food[j] = {390, 20};
      if (!scene) return;
      for (const TBugPlace& place : scene->Bugs) {
        world.Creatures[place.Bug].X = place.X;
        world.Creatures[place.Bug].Y = place.Y;
        world.Creatures[place.Bug].SetHeading(place.Heading);
      }
    };
    // The first seed whose first re-placement lands in the open, away from the parked ones.
    for (;; ++seed) {
      TWorld probe(host);
      make(probe, nullptr);
      TRandomGenerator draws = probe.Random;
      replaced.X = static_cast<double>(400 * static_cast<long double>(draws.Random()));
      replaced.Y = static_cast<double>(400 * static_cast<long double>(draws.Random()));
      if (replaced.X > 30 && replaced.X < 360 && replaced.Y > 120 && replaced.Y < 340) break;
    }
    const TCase cases[] = {
        {"exactly the eating distance plus the move", {{2, 200, 200, 0}, {3, 250, 200, 0}}, exactlyAhead, 1},
        {"diagonally, just inside after the move", {{2, 200, 200, static_cast<double>(-Pi2 / 8)}}, diagonal, 1},
        {"a bug that wraps onto a pellet", {{1, 300, 399.5, 0}}, wraps, 1},
        {"a pellet re-placed next to a later bug",
         {{0, 100, 100, 0}, {150, replaced.X, replaced.Y - 2.5, 0}}, replacedNextToALaterBug, 2},
        {"equal distances", {{0, 100, 100, 0}}, equalDistances, 0},
    };
    for (const TCase& scene : cases) {
      SCOPED_TRACE(::testing::Message() << scene.Name << ", " << foodCount << " pellets");
      TWorld probe(host), fast(host), plain(host);
      make(probe, &scene);
      probe.UpdateCreatures();
      for (TWorld* world : {&fast, &plain}) {
        make(*world, &scene);
        for (const auto& [j, where] : scene.Food(probe, replaced)) world->Food[j] = where;
      }
      fast.Tick();
      Plainly([&] { plain.Tick(); });
      ExpectSameWorld(fast, plain, 1);
      EXPECT_EQ(plain.TotalFitness, scene.Eaten);
    }
  }
}

// The same in a large sparse world, where the update gathers each bug's turns beside it and
// each thread finds its bugs near the placements the eating will make: a pellet re-placed
// next to the very next bug, and one next to the last bug (another thread's, from two on).
TEST(EatingSkipExactness, PelletsReplacedNextToLaterBugsOnAnyThreadCount) {
  for (const int32_t threads : {1, 2, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    TTestHost host(2000, 2000, 1200, 1100, 2000);
    const auto make = [&](TWorld& world) {
      world.Random.Seed = 9;
      Plainly([&] { world.BuildPopulation(); });
      for (TNeuralNet& net : world.Nets) std::fill(net.Weights().begin(), net.Weights().end(), 0.0);
      for (int32_t b = 0; b < world.BugCount; ++b) {
        world.Creatures[b].X = 10 + (b % 40) * 45;
        world.Creatures[b].Y = 1000 + (b / 40) * 30.0;
        world.Creatures[b].SetHeading(0);
      }
      for (int32_t j = 0; j < world.FoodCount; ++j) world.Food[j] = {1990, 10};
    };
    TWorld probe(host), fast(host), plain(host);
    make(probe);
    TRandomGenerator draws = probe.Random;
    TFood placement[2];
    for (TFood& p : placement) {
      p.X = static_cast<double>(2000 * static_cast<long double>(draws.Random()));
      p.Y = static_cast<double>(2000 * static_cast<long double>(draws.Random()));
    }
    const double startY = probe.Creatures[0].Y;
    probe.UpdateCreatures();
    const double moveY = probe.Creatures[0].Y - startY;  // every bug moves alike
    fast.Threads = threads;
    for (TWorld* world : {&fast, &plain}) {
      make(*world);
      // Bugs 0 and 700 eat the first two pellets re-placed; bugs 1 and 1199 end one unit from
      // where those land.
      world->Food[0] = {world->Creatures[0].X, world->Creatures[0].Y + moveY};
      world->Food[1] = {world->Creatures[700].X, world->Creatures[700].Y + moveY};
      world->Creatures[1].X = placement[0].X;
      world->Creatures[1].Y = placement[0].Y - moveY + 1;
      world->Creatures[1199].X = placement[1].X + 1;
      world->Creatures[1199].Y = placement[1].Y - moveY;
    }
    fast.Tick();
    Plainly([&] { plain.Tick(); });
    ExpectSameWorld(fast, plain, 1);
    EXPECT_GE(plain.Nets[1].Fitness, 1);
    EXPECT_GE(plain.Nets[1199].Fitness, 1);
  }
}

// Every pellet within reach of every bug: 200 bugs eat 400,000 pellets a tick. Noting each
// re-placed pellet to every later bug within reach took 14 s of processor time for that tick;
// asking the grid in each bug's turn takes a few hundredths.
TEST(EatFoodExactness, EverythingWithinReachCostsTimeLinearInThePelletsEaten) {
  TTestHost host(50, 50, 200, 2000, 2000);
  TWorld world(host);
  world.Parameters.EatingDistance = 100;
  world.Random.Seed = 1;
  world.BuildPopulation();
  const std::clock_t start = std::clock();
  world.Tick();
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_EQ(world.TotalFitness, 200 * 2000);
  EXPECT_LT(seconds, 3.0);
}

}  // namespace
}  // namespace zemlix
