#pragma once

#include <cstdint>
#include <istream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "ai/WeightList.h"
#include "files/Checksum.h"
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
  int64_t TotalFitness = 0;
  double AverageFitness = 0;
  int32_t SelectedBugFood = 0;
  uint32_t Seed = 0;
  int32_t Bugs = 0;
  int32_t Food = 0;
  int32_t Lifetime = 0;
  // The parameters it ran under: the "parameters" line over the defaults, with Bugs, Food
  // and Lifetime those above.
  TParameters Parameters;
  std::vector<TSavedBug> Creatures;  // TWorld::BugSlotsFor(Bugs) slots
  std::vector<TFood> Pellets;        // TWorld::FoodSlotsFor(Food) slots
  std::vector<TWeightList> Weights;  // one per bug slot, flat order, all of one length
  std::vector<TParentage> Parentage; // one per bug slot; empty when the state has no parent lines
  uint64_t FirstNetLine = 0;         // where the weights start, for errors found later
};

// The highest generation a world file holds: a loaded world must still be able to end the
// next generation without overflowing the counter, and a run stops before passing it.
inline constexpr int32_t MaxSavedGeneration = std::numeric_limits<int32_t>::max() - 1;

// A world file: the last whole state, and the generation ends recorded before it, one
// "history" line each, in order and ending at the state's generation. Files written before
// history lines existed give an empty history; a world resumed from such a file records
// only the generations after it, so the history may start later than generation 1.
struct TWorldFile {
  TSavedState State;
  std::vector<TGenerationReport> History;
};

// Reads every state in `in` (a --dump-every file holds several) and keeps the last whole
// one. A state cut short at the very end of the file (a run stopped while appending it) is
// ignored, and `note`, when given, says so; any other damage is an error. Each state may
// end with a "check" line (an FNV-1a checksum of its lines and the history lines before
// it), which must then match. Lines are bounded (TLineReader), so no input can exhaust the
// memory. Throws EDumpError naming `name` and the line.
TWorldFile ReadWorld(std::istream& in, const std::string& name, std::string* note);
TWorldFile ReadWorldFile(const std::string& path, std::string* note = nullptr);

// The tick a world stands at between ticks: with a fixed lifetime it follows from the
// generation counter and the countdown (1 .. lifetime).
uint64_t TickAt(int32_t generation, int32_t lifetime, int32_t timeToLive);

// Reads every state in `in` (a --dump-every file holds several) and returns the last.
// Every state must be complete and consistent: the exact line layout with every slot in
// order, integers and finite reals that read back exactly, parameters, counts and lifetime
// within their ranges (ParameterRegistry), the countdown agreeing with the tick and generation counters, and the
// total agreeing with the active bugs' fitness. Throws EDumpError naming `name` and the line.
TSavedState ReadDump(std::istream& in, const std::string& name);

// Puts `world` into exactly the state saved, under the state's parameters. The world must
// run on a host that answers the state's bugs, food, lifetime and field. Builds a population first (for the objects; its
// random draws are then overwritten, generator included), then sets every saved field.
// The chromosomes are not part of a dump and need not be: a generation end overwrites
// every one of them before breeding reads it. A state without parent lines leaves every
// bug's parents unknown. Throws EDumpError when the networks' size differs from the saved
// weights.
void RestoreWorld(TWorld& world, const TSavedState& state, const std::string& name);

}  // namespace zemlix
