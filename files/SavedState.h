#pragma once

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ai/WeightList.h"
#include "world/World.h"

namespace zemlix {

// A dump that cannot be loaded. The message names the file and the line:
// "run.dump:7: bug 5: expected 9 fields, found 8".
class EDumpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TSavedBug {
  double X, Y, Heading, Speed, LookX, LookY;
  int32_t Fitness;
};

// One state of the dump format (see Dump.h), every slot of it.
struct TSavedState {
  uint64_t Tick = 0;
  int32_t Generation = 0;
  int32_t TimeToLive = 0;
  int32_t TotalFitness = 0;
  double AverageFitness = 0;
  int32_t SelectedBugFood = 0;
  uint32_t Seed = 0;
  int32_t Bugs = 0;
  int32_t Food = 0;
  int32_t Lifetime = 0;
  std::vector<TSavedBug> Creatures;  // MaxBugs slots
  std::vector<TFood> Pellets;        // MaxFood slots
  std::vector<TWeightList> Weights;  // MaxBugs slots, flat order, all of one length
  uint64_t FirstNetLine = 0;         // where the weights start, for errors found later
};

// Reads every state in `in` (a --dump-every file holds several) and returns the last.
// Every state must be complete and consistent: the exact line layout with every slot in
// order, integers and finite reals that read back exactly, counts and lifetime within the
// window's ranges, the countdown agreeing with the tick and generation counters, and the
// total agreeing with the active bugs' fitness. Throws EDumpError naming `name` and the line.
TSavedState ReadDump(std::istream& in, const std::string& name);
TSavedState ReadDumpFile(const std::string& path);

// Puts `world` into exactly the state saved. The world must run on a host that answers
// the state's bugs, food and lifetime. Builds a population first (for the objects; its
// random draws are then overwritten, generator included), then sets every saved field.
// The chromosomes are not part of a dump and need not be: a generation end overwrites
// every one of them before breeding reads it. Throws EDumpError when the networks' size
// differs from the saved weights.
void RestoreWorld(TWorld& world, const TSavedState& state, const std::string& name);

}  // namespace zemlix
