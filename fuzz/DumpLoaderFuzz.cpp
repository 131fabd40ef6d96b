// The --load dump loader: any file either fails with EDumpError or loads a state that keeps
// its promises, restores into a world that runs, and reads back the same after a new dump.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "files/Dump.h"
#include "sim/HeadlessHost.h"
#include "files/SavedState.h"
#include "world/Settings.h"

namespace {

using zemlix::TSavedState;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "dump loader: %s\n", what.c_str());
  std::abort();
}

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckSame(const TSavedState& a, const TSavedState& b) {
  if (a.Tick != b.Tick || a.Generation != b.Generation || a.TimeToLive != b.TimeToLive ||
      a.TotalFitness != b.TotalFitness || !Same(a.AverageFitness, b.AverageFitness) ||
      a.SelectedBugFood != b.SelectedBugFood || a.Seed != b.Seed || a.Bugs != b.Bugs || a.Food != b.Food ||
      a.Lifetime != b.Lifetime)
    Fail("the counters differ after a dump of the restored world");
  for (size_t i = 0; i < a.Creatures.size(); ++i) {
    const auto& x = a.Creatures[i];
    const auto& y = b.Creatures[i];
    if (!Same(x.X, y.X) || !Same(x.Y, y.Y) || !Same(x.Heading, y.Heading) || !Same(x.Speed, y.Speed) ||
        !Same(x.LookX, y.LookX) || !Same(x.LookY, y.LookY) || x.Fitness != y.Fitness)
      Fail("bug " + std::to_string(i) + " differs after a dump of the restored world");
  }
  for (size_t j = 0; j < a.Pellets.size(); ++j)
    if (!Same(a.Pellets[j].X, b.Pellets[j].X) || !Same(a.Pellets[j].Y, b.Pellets[j].Y))
      Fail("pellet " + std::to_string(j) + " differs after a dump of the restored world");
  for (size_t i = 0; i < a.Weights.size(); ++i)
    for (size_t k = 0; k < a.Weights[i].size(); ++k)
      if (!Same(a.Weights[i][k], b.Weights[i][k]))
        Fail("weight " + std::to_string(k) + " of net " + std::to_string(i) + " differs after a dump");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
  TSavedState state;
  try {
    state = zemlix::ReadDump(file, "fuzz.dump");
  } catch (const zemlix::EDumpError&) {
    return 0;
  }

  const auto bugSlots = static_cast<size_t>(zemlix::TWorld::BugSlotsFor(state.Bugs));
  if (state.Creatures.size() != bugSlots || state.Weights.size() != bugSlots ||
      state.Pellets.size() != static_cast<size_t>(zemlix::TWorld::FoodSlotsFor(state.Food)))
    Fail("a loaded state without every slot");
  for (const auto& weights : state.Weights)
    if (weights.size() != state.Weights[0].size()) Fail("networks of different sizes");
  for (const auto& [value, name] : {std::pair{state.Bugs, "bugs"}, {state.Food, "food"}, {state.Lifetime, "lifetime"}}) {
    const zemlix::TParameterInfo& info = *zemlix::FindParameter(name);
    if (value < info.Minimum || value > info.Maximum) Fail("starting conditions outside their ranges");
  }

  zemlix::THeadlessHost host(state.Parameters, false);
  zemlix::TWorld world(host);
  try {
    zemlix::RestoreWorld(world, state, "fuzz.dump");
  } catch (const zemlix::EDumpError&) {
    return 0;
  }
  std::istringstream again(zemlix::FormatDump(world, state.Tick, state.Lifetime));
  CheckSame(state, zemlix::ReadDump(again, "again.dump"));

  // A loaded world must run: a few ticks, reaching the generation end when it is near.
  for (int tick = 0; tick < 3; ++tick) world.Tick();
  if (state.TimeToLive <= 3 && world.Generation != state.Generation + 1) Fail("the generation did not end");
  return 0;
}
