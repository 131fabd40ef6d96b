#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "base/Rounding.h"
#include "tests/world/TestHost.h"
#include "world/AdvancedMathUnit.h"
#include "world/World.h"

namespace zemlix {
namespace {

using testing::TTestHost;

class WorldTest : public ::testing::Test {
 protected:
  WorldTest() : world(host) {}

  // A built world whose bugs all stand still far from every pellet unless a test moves them.
  void Build(uint32_t seed = 1) {
    world.Random.Seed = seed;
    world.BuildPopulation();
  }

  TTestHost host;
  TWorld world;
};

TEST_F(WorldTest, NothingHappensBeforeThePopulationExists) {
  EXPECT_FALSE(world.HasPopulation());
  EXPECT_EQ(world.TimeToLive, 3000);
  EXPECT_EQ(world.BugCount, 200);
  world.Tick();
  EXPECT_EQ(world.TimeToLive, 3000);
  EXPECT_EQ(world.Random.Seed, 0u);
}

TEST_F(WorldTest, BuildPopulationDrawsWeightsThenBugsThenFood) {
  host.Width = 300;
  host.Height = 200;
  Build(77);
  ASSERT_EQ(world.Nets.size(), 200u);
  for (const TNeuralNet& net : world.Nets) ASSERT_EQ(net.CountWeights(), 44);
  ASSERT_EQ(world.Creatures.size(), 200u);
  EXPECT_EQ(world.GenomeLength, 44);
  EXPECT_EQ(world.LayerSizes, (std::vector<int32_t>{6, 2}));
  EXPECT_EQ(world.BugCount, 30);
  EXPECT_EQ(world.FoodCount, 40);
  EXPECT_EQ(world.TimeToLive, 2000);

  TRandomGenerator replay(77);
  for (int i = 0; i < 200 * 44; ++i) replay.Random();
  for (int i = 0; i < 200; ++i) {
    const double r1 = replay.Random(), r2 = replay.Random(), r3 = replay.Random(), r4 = replay.Random();
    const TCreature& bug = world.Creatures[i];
    ASSERT_EQ(bug.Y, Round(200 * static_cast<long double>(r1)));
    ASSERT_EQ(bug.X, Round(300 * static_cast<long double>(r4)));
    ASSERT_EQ(bug.Speed, r3);
    ASSERT_EQ(bug.Heading, static_cast<double>(DegToRad(static_cast<double>(r2 * 360.0L))));
  }
  for (int j = 0; j < 100; ++j) {
    ASSERT_EQ(world.Food[j].X, static_cast<double>(300 * static_cast<long double>(replay.Random())));
    ASSERT_EQ(world.Food[j].Y, static_cast<double>(200 * static_cast<long double>(replay.Random())));
    EXPECT_LT(world.Food[j].X, 300);
    EXPECT_LT(world.Food[j].Y, 200);
  }
  EXPECT_EQ(world.Random.Seed, replay.Seed);
}

TEST_F(WorldTest, RestartReplacesThePopulationAndKeepsTheSelection) {
  Build(5);
  world.SelectedBug = 80;
  world.Nets[3].Fitness = 9;
  world.Generation = 4;
  host.Bugs = 100;
  world.BuildPopulation();
  EXPECT_EQ(world.Nets.size(), 200u);
  EXPECT_EQ(world.Nets[3].Fitness, 0);
  EXPECT_EQ(world.Generation, 0);
  EXPECT_EQ(world.BugCount, 100);
  EXPECT_EQ(world.SelectedBug, 80);
}

TEST_F(WorldTest, CountsOutsideTheBoxRangesAreHeldToThem) {
  host.Bugs = 250;
  host.FoodPellets = 0;
  host.Lifetime = 0;
  Build();
  EXPECT_EQ(world.BugCount, 200);
  EXPECT_EQ(world.FoodCount, 5);
  EXPECT_EQ(world.TimeToLive, 500);
}

TEST_F(WorldTest, NearestFoodTakesTheLowerIndexOnTies) {
  Build();
  for (auto& food : world.Food) food = {390, 390};
  world.Food[7] = {110, 100};
  world.Food[3] = {90, 100};
  EXPECT_EQ(world.NearestFood(100, 100), 3);
  world.Food[2] = {100, 105};
  EXPECT_EQ(world.NearestFood(100, 100), 2);
  world.FoodCount = 2;  // only pellets 0 and 1 take part
  world.Food[0] = {390, 390};
  world.Food[1] = {380, 380};
  EXPECT_EQ(world.NearestFood(100, 100), 1);
}

TEST_F(WorldTest, UpdateSensesTheNearestPelletsOwnPosition) {
  Build();
  world.BugCount = 5;
  world.FoodCount = 5;
  for (int j = 0; j < 5; ++j) world.Food[j] = {10.0 + j, 350};
  world.Food[4] = {300, 300};
  TCreature& bug = world.Creatures[2];
  bug.X = 290;
  bug.Y = 310;
  bug.SetHeading(0.5);
  const TCreature before = bug;
  world.SelectedBug = 2;
  host.Stats = true;

  TWeightList outputs(2);
  const long double len = std::sqrt(300.0L * 300 + 300.0L * 300);
  const TWeightList inputs = {static_cast<double>(300 / len), static_cast<double>(300 / len), before.LookX, before.LookY};
  world.Nets[2].Compute(inputs, outputs);

  world.UpdateCreatures();
  EXPECT_EQ(world.SelectedBugFood, 4);
  EXPECT_EQ(host.MeterDraws, 1);
  EXPECT_EQ(host.LastLeft, outputs[0]);
  EXPECT_EQ(host.LastRight, outputs[1]);

  const double turn = std::clamp(static_cast<double>(static_cast<long double>(outputs[0]) - outputs[1]), -0.3, 0.3);
  TCreature expected = before;
  expected.Speed = static_cast<double>(static_cast<long double>(outputs[0]) + outputs[1]);
  expected.SetHeading(static_cast<double>(before.Heading + static_cast<long double>(turn)));
  expected.MoveStep();
  EXPECT_EQ(bug.X, expected.X);
  EXPECT_EQ(bug.Y, expected.Y);
  EXPECT_EQ(bug.Heading, expected.Heading);
  EXPECT_EQ(bug.LookX, expected.LookX);
}

// The tick reads the networks' weights where they are: an edit by any means, without
// PutWeights or NetworksChanged, shows in the very next tick's impulses, exactly as
// TNeuralNet::Compute gives them. Bugs in an eight-wide group, in the four-wide tail and
// the block's first; weights of the hidden and of the output layer.
TEST_F(WorldTest, ADirectEditOfAWeightTakesEffectOnTheNextTick) {
  struct TCase {
    int Bug, Weight;
    double Value;
  };
  for (const TCase c : {TCase{0, 0, 0.75}, TCase{3, 1, 0.9}, TCase{13, 30, -0.5}, TCase{29, 43, 0.25},
                        TCase{29, 12, -0.8}}) {
    SCOPED_TRACE("bug " + std::to_string(c.Bug) + ", weight " + std::to_string(c.Weight));
    Build();
    host.Stats = true;
    world.SelectedBug = c.Bug;
    const TCreature& bug = world.Creatures[c.Bug];
    const TFood& pellet = world.Food[world.NearestFood(bug.X, bug.Y)];
    const long double len = std::sqrt(static_cast<long double>(pellet.X) * pellet.X + static_cast<long double>(pellet.Y) * pellet.Y);
    const TWeightList inputs = {static_cast<double>(pellet.X / len), static_cast<double>(pellet.Y / len), bug.LookX, bug.LookY};
    TWeightList unedited(2), edited(2);
    world.Nets[c.Bug].Compute(inputs, unedited);
    world.Nets[c.Bug].Weights()[c.Weight] = c.Value;
    world.Nets[c.Bug].Compute(inputs, edited);
    ASSERT_NE(edited, unedited);

    world.UpdateCreatures();
    EXPECT_EQ(host.MeterDraws, 1);
    EXPECT_EQ(host.LastLeft, edited[0]);
    EXPECT_EQ(host.LastRight, edited[1]);
    host.MeterDraws = 0;
  }
}

// A change of shape is not followed by itself: a tick that meets one without NetworksChanged
// must not go unnoticed in debug builds.
TEST_F(WorldTest, AStepChangeWithoutNetworksChangedIsCaughtInDebugBuilds) {
  Build();
  world.Nets[3].Step = true;
  EXPECT_DEBUG_DEATH(world.UpdateCreatures(), "NetworksChanged");
  world.NetworksChanged();
  world.UpdateCreatures();  // the block now runs network by network
}

TEST_F(WorldTest, TurnIsLimitedAndSpeedIsTheSum) {
  Build();
  world.BugCount = 5;
  // Output neurons with zero weights and thresholds chosen for left 0.9, right 0.1 would
  // need an inverse sigmoid; instead make it a step network whose output neurons see only
  // their thresholds.
  TNeuralNet& net = world.Nets[0];
  net.Step = true;
  const std::span<double> output = net.Weights().subspan(net.LayerOffset(1));
  std::fill(output.begin(), output.end(), 0.0);
  output[0] = -1;  // left fires: 1.0
  output[7] = 1;   // right stays 0.0
  world.NetworksChanged();
  TCreature& bug = world.Creatures[0];
  bug.X = 200;
  bug.Y = 200;
  bug.SetHeading(1.0);
  world.UpdateCreatures();
  EXPECT_EQ(bug.Heading, static_cast<double>(1.0L + 0.3));
  EXPECT_EQ(bug.Speed, 1.0);
}

TEST_F(WorldTest, BugsWrapToTheOppositeEdgeExactly) {
  // A square field hides a mix-up of width and height; the second one does not.
  for (const auto& [width, height] : {std::pair{400, 400}, {300, 200}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    host.Width = width;
    host.Height = height;
    Build();
    world.BugCount = 5;
    for (int b = 0; b < 5; ++b) {
      TNeuralNet& net = world.Nets[b];
      net.Step = true;
      const std::span<double> output = net.Weights().subspan(net.LayerOffset(1));
      std::fill(output.begin(), output.end(), 0.0);
      output[0] = output[7] = -1;  // both impulses 1.0: no turn, speed 2
    }
    world.NetworksChanged();
    auto place = [&](int b, double x, double y, double degrees) {
      world.Creatures[b] = TCreature(0, 0, degrees, 0);
      world.Creatures[b].X = x;
      world.Creatures[b].Y = y;
    };
    const double w = width, h = height;
    place(0, 1.5, 100, 90);       // moves left to -0.5 -> width
    place(1, w - 1.5, 100, 270);  // moves right past the width -> 0
    place(2, 100, 1.5, 180);      // moves up to -0.5 -> height
    place(3, 100, h - 1.5, 0);    // moves down past the height -> 0
    place(4, 100, h - 2, 0);      // moves down to exactly the height: stays
    world.UpdateCreatures();
    EXPECT_EQ(world.Creatures[0].X, w);
    EXPECT_EQ(world.Creatures[1].X, 0.0);
    EXPECT_EQ(world.Creatures[2].Y, h);
    EXPECT_EQ(world.Creatures[3].Y, 0.0);
    EXPECT_EQ(world.Creatures[4].Y, h);
  }
}

TEST_F(WorldTest, GenerationReportCountsEveryActiveBug) {
  // The first and the last active bug each take their turn as the only best and worst.
  struct TCase {
    int Best, Worst;
  };
  for (const TCase c : {TCase{29, 0}, TCase{0, 29}, TCase{29, 28}, TCase{1, 29}}) {
    SCOPED_TRACE("best " + std::to_string(c.Best) + ", worst " + std::to_string(c.Worst));
    Build();
    for (int i = 0; i < 200; ++i) world.Nets[i].Fitness = i < 30 ? 5 : 1000;  // upper slots do not count
    world.Nets[c.Best].Fitness = 9;
    world.Nets[c.Worst].Fitness = 2;
    world.TotalFitness = 28 * 5 + 9 + 2;
    TGenerationReport report{};
    world.OnGenerationEnd = [&report](const TGenerationReport& r) { report = r; };
    world.EndGeneration();
    EXPECT_EQ(report.BestFitness, 9);
    EXPECT_EQ(report.WorstFitness, 2);
    EXPECT_EQ(report.TotalFitness, 151);
  }
}

TEST_F(WorldTest, InactiveSelectedBugLeavesTheMetersAlone) {
  Build();
  host.Stats = true;
  world.SelectedBug = 150;
  world.SelectedBugFood = 33;
  world.UpdateCreatures();
  EXPECT_EQ(host.MeterDraws, 0);
  EXPECT_EQ(world.SelectedBugFood, 33);
}

TEST_F(WorldTest, EatingIsStrictlyCloserThanSixAndRePlacesAtOnce) {
  Build();
  world.BugCount = 5;
  world.FoodCount = 5;
  for (int b = 0; b < 5; ++b) {
    world.Creatures[b].X = 50.0 + 60 * b;
    world.Creatures[b].Y = 50;
  }
  for (auto& food : world.Food) food = {10, 390};
  world.Food[0] = {50 + 6.0, 50};     // exactly 6 from bug 0: not eaten
  world.Food[1] = {110, 50 + 5.999};  // bug 1 eats it
  const uint32_t seedBefore = world.Random.Seed;
  world.EatFood();
  EXPECT_EQ(world.Nets[0].Fitness, 0);
  EXPECT_EQ(world.Nets[1].Fitness, 1);
  EXPECT_EQ(world.TotalFitness, 1);
  TRandomGenerator replay(seedBefore);
  EXPECT_EQ(world.Food[1].X, static_cast<double>(400 * static_cast<long double>(replay.Random())));
  EXPECT_EQ(world.Food[1].Y, static_cast<double>(400 * static_cast<long double>(replay.Random())));
  EXPECT_EQ(world.Random.Seed, replay.Seed);
}

TEST_F(WorldTest, APelletRePlacedNextToALaterBugIsEatenAgainInTheSamePass) {
  Build();
  world.BugCount = 5;
  world.FoodCount = 5;
  for (auto& food : world.Food) food = {200, 200};
  for (int b = 0; b < 5; ++b) world.Creatures[b].X = world.Creatures[b].Y = 5;
  world.Food[0] = {5, 5};
  // Where will PlaceFood put pellet 0? Put bug 3 there.
  TRandomGenerator replay(world.Random.Seed);
  const double x = static_cast<double>(400 * static_cast<long double>(replay.Random()));
  const double y = static_cast<double>(400 * static_cast<long double>(replay.Random()));
  world.Creatures[3].X = x;
  world.Creatures[3].Y = y + 1;
  for (int b = 1; b < 5; ++b)
    if (b != 3) world.Creatures[b].X = world.Creatures[b].Y = 390;
  world.EatFood();
  EXPECT_EQ(world.Nets[0].Fitness, 1);
  EXPECT_EQ(world.Nets[3].Fitness, 1);
  EXPECT_EQ(world.TotalFitness, 2);
}

TEST_F(WorldTest, GenerationEndsOnTheLifetimesTick) {
  host.Lifetime = 500;
  Build();
  std::vector<TGenerationReport> reports;
  world.OnGenerationEnd = [&](const TGenerationReport& report) { reports.push_back(report); };
  int eatenBeforeEnd = 0;
  for (int tick = 1; tick <= 499; ++tick) world.Tick();
  EXPECT_EQ(world.Generation, 0);
  EXPECT_EQ(world.TimeToLive, 1);
  eatenBeforeEnd = world.TotalFitness;
  int best = world.Nets[0].Fitness;
  for (int i = 0; i < world.BugCount; ++i) best = std::max(best, world.Nets[i].Fitness);

  host.Lifetime = 1000;  // read again at the generation end
  world.Tick();
  EXPECT_EQ(world.Generation, 1);
  EXPECT_EQ(world.TimeToLive, 1000);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].TotalFitness, eatenBeforeEnd);
  EXPECT_EQ(reports[0].BestFitness, best);
  EXPECT_EQ(world.AverageFitness, static_cast<double>(static_cast<long double>(eatenBeforeEnd) / 30));
  // What the bugs ate in the ending tick already counts for the new generation.
  int newFitness = 0;
  for (int i = 0; i < 30; ++i) newFitness += world.Nets[i].Fitness;
  EXPECT_EQ(world.TotalFitness, newFitness);
}

TEST_F(WorldTest, GenerationEndCarriesUpperSlotsThrough) {
  Build();
  world.Nets[150].Fitness = 12;
  TWeightList before(44), after(44);
  world.Nets[150].GetWeights(before);
  host.Lifetime = -3;  // a box still being typed in
  world.EndGeneration();
  world.Nets[150].GetWeights(after);
  EXPECT_EQ(after, before);
  EXPECT_EQ(world.Nets[150].Fitness, 12);
  EXPECT_EQ(world.Nets[0].Fitness, 0);
  EXPECT_EQ(world.TimeToLive, 500);
}

TEST(WorldDeterminism, SameSeedSameRun) {
  testing::TTestHost host;
  host.Bugs = 200;
  host.FoodPellets = 100;
  host.Lifetime = 500;
  TWorld a(host), b(host);
  a.Random.Seed = b.Random.Seed = 4242;
  a.BuildPopulation();
  b.BuildPopulation();
  for (int tick = 0; tick < 1200; ++tick) {
    a.Tick();
    b.Tick();
  }
  EXPECT_EQ(a.Random.Seed, b.Random.Seed);
  EXPECT_EQ(a.Generation, 2);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(a.Creatures[i].X, b.Creatures[i].X);
    ASSERT_EQ(a.Creatures[i].Heading, b.Creatures[i].Heading);
    ASSERT_EQ(a.Nets[i].Fitness, b.Nets[i].Fitness);
  }
}

}  // namespace
}  // namespace zemlix
