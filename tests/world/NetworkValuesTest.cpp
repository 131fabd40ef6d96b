#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../support/Scratch.h"
#include "TestHost.h"
#include "world/AdvancedMathUnit.h"
#include "world/World.h"

namespace zemlix::testing {
namespace {

// The runner's limits, so that a world is large enough to share its tick among threads.
struct TLargeHost : TTestHost {
  int32_t MaximumBugs() const override { return 100000; }
};

// The kept inputs and outputs are what each network saw and gave in the tick: the nearest
// pellet's direction and the look vector from before the tick, and the network's outputs
// for them. Checked on every path the tick takes: batched blocks, networks too wide for
// them, one bug after the other while logging, and several threads.
TEST(NetworkValuesTest, KeepsWhatEachNetworkSawAndGave) {
  struct TCase {
    const char* Name;
    std::vector<int32_t> Hidden;
    bool Record;
    int32_t Bugs;
    int32_t Threads;
  };
  const TCase cases[] = {{"batched", {6}, false, 30, 1},
                         {"too wide to batch", {12}, false, 30, 1},
                         {"logging", {6}, true, 30, 1},
                         {"two threads", {6}, false, 450, 2}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TScratchDirectory scratch;
    TLargeHost host;
    host.Record = c.Record;
    host.Bugs = c.Bugs;
    TWorld world(host, TNetworkLog(scratch.Path));
    world.Parameters.HiddenLayers = c.Hidden;
    world.Random.Seed = 5;
    world.BuildPopulation();
    world.KeepNetworkValues = true;
    world.Threads = c.Threads;
    if (c.Record) world.Log.WriteStarted();
    for (int tick = 0; tick < 3; ++tick) {
      const std::vector<TCreature> before = world.Creatures;
      const std::vector<TFood> food = world.Food;
      world.Tick();
      ASSERT_EQ(world.NetworkInputs.size(), world.Nets.size() * 4);
      ASSERT_EQ(world.NetworkOutputs.size(), world.Nets.size() * 2);
      for (int32_t b = 0; b < world.BugSlots; ++b) {
        const double* inputs = &world.NetworkInputs[b * 4];
        const double* outputs = &world.NetworkOutputs[b * 2];
        if (b >= world.BugCount) {
          EXPECT_EQ(inputs[0], 0.0) << b;
          EXPECT_EQ(outputs[0], 0.0) << b;
          continue;
        }
        int32_t nearest = 0;
        for (int32_t j = 1; j < world.FoodCount; ++j)
          if (Distance(before[b].X, before[b].Y, food[j].X, food[j].Y) <
              Distance(before[b].X, before[b].Y, food[nearest].X, food[nearest].Y))
            nearest = j;
        const long double x = food[nearest].X, y = food[nearest].Y, length = std::sqrt(x * x + y * y);
        const TWeightList expectedInputs{static_cast<double>(x / length), static_cast<double>(y / length),
                                         before[b].LookX, before[b].LookY};
        TWeightList expectedOutputs(2);
        world.Nets[b].Compute(expectedInputs, expectedOutputs);
        for (int m = 0; m < 4; ++m) ASSERT_EQ(inputs[m], expectedInputs[m]) << "bug " << b << " input " << m;
        ASSERT_EQ(outputs[0], expectedOutputs[0]) << "bug " << b;
        ASSERT_EQ(outputs[1], expectedOutputs[1]) << "bug " << b;
      }
    }
  }
}

}  // namespace
}  // namespace zemlix::testing
