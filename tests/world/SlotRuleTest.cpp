// A world between the food's and the bugs' slot counts (more bugs than MaxFood, fewer than
// MaxBugs) keeps MaxBugs bug slots: every weight draw, and so the whole run, depends on it.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/world/TestHost.h"
#include "world/World.h"

namespace zemlix {
namespace {

// FNV-1a, 64 bits, over the bytes of the values fed to it.
class TStateHash {
 public:
  template <typename T>
  void Add(const T& value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    for (unsigned char byte : bytes) {
      Hash ^= byte;
      Hash *= 1099511628211ull;
    }
  }
  std::string Hex() const {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIx64, Hash);
    return text;
  }

 private:
  uint64_t Hash = 14695981039346656037ull;
};

// 150 bugs and 70 pellets through three generation ends, pinned to the bit. Only the active
// bugs and pellets enter the hash, so the pin is on the run, not on the size of a vector.
TEST(SlotRule, AWorldBetweenTheTwoSlotCountsIsPinned) {
  testing::TTestHost host;
  host.Bugs = 150;
  host.FoodPellets = 70;
  host.Lifetime = 800;
  TWorld world(host);
  world.Random.Seed = 20240915;
  world.BuildPopulation();
  EXPECT_EQ(world.BugSlots, TWorld::MaxBugs);
  EXPECT_EQ(world.FoodSlots, TWorld::MaxFood);
  for (int tick = 0; tick < 2500; ++tick) world.Tick();
  ASSERT_EQ(world.Generation, 3);

  TStateHash hash;
  std::vector<double> weights;
  for (int32_t i = 0; i < world.BugCount; ++i) {
    const TCreature& bug = world.Creatures[i];
    for (double value : {bug.X, bug.Y, bug.LookX, bug.LookY, bug.Heading, bug.Speed}) hash.Add(value);
    weights.resize(world.Nets[i].CountWeights());
    world.Nets[i].GetWeights(weights);
    for (double weight : weights) hash.Add(weight);
    hash.Add(world.Nets[i].Fitness);
  }
  for (int32_t j = 0; j < world.FoodCount; ++j) {
    hash.Add(world.Food[j].X);
    hash.Add(world.Food[j].Y);
  }
  for (int32_t counter : {world.TimeToLive, static_cast<int32_t>(world.TotalFitness), world.SelectedBugFood})
    hash.Add(counter);
  hash.Add(world.AverageFitness);
  hash.Add(world.Random.Seed);
  EXPECT_EQ(hash.Hex(), "40890163baf25416");
}

}  // namespace
}  // namespace zemlix
