#include "world/MemoryEstimate.h"

#include <algorithm>
#include <cmath>

#include "world/BatchedNetworks.h"
#include "world/FoodGrid.h"
#include "world/World.h"

namespace zemlix {
namespace {

// Measured per slot on the release build with the default allocator (peak resident size
// of worlds from 5 to 100000 bugs and pellets, rounded up): a bug's body, network object
// and the breeding lists' entries beside its weights; a pellet with its direction cache,
// grid entries and eating candidates; a further thread's copy of the grid's lists.
constexpr uint64_t BugBytes = 200;
constexpr uint64_t PelletBytes = 150;  // the grid keeps a second layout to lay out anew in bands
constexpr uint64_t PelletBytesPerExtraThread = 70;
// A generation end overwrites genomes still to be read only after keeping them apart;
// about one genome in twenty was kept in the runs measured, so a tenth is allowed.
constexpr double KeptGenomeShare = 0.10;

}  // namespace

uint64_t NetworkWeights(const TParameters& parameters) {
  uint64_t weights = 0;
  int64_t inputs = TBatchedNetworks::NumInputs;
  for (int32_t neurons : parameters.LayerSizes()) {
    weights += static_cast<uint64_t>(inputs + 1) * static_cast<uint64_t>(std::max(neurons, 0));
    inputs = neurons;
  }
  return weights;
}

bool SizesAWorld(std::string_view name) {
  for (std::string_view sizing : {"bugs", "food", "hidden_layers", "field_width", "field_height", "eating_distance"})
    if (name == sizing) return true;
  return false;
}

uint64_t EstimateWorldBytes(const TParameters& parameters, int32_t threads) {
  const auto bugs = static_cast<uint64_t>(TWorld::BugSlotsFor(parameters.Bugs));
  const auto pellets = static_cast<uint64_t>(TWorld::FoodSlotsFor(parameters.Food));
  const double weightBytes = static_cast<double>(NetworkWeights(parameters) * sizeof(double));
  double total = static_cast<double>(bugs) * (BugBytes + weightBytes * (1 + KeptGenomeShare)) +
                 static_cast<double>(pellets * PelletBytes);

  // Threads share a tick only from ParallelBugs bugs on, at most one per block of bugs.
  const uint64_t blocks = (bugs + TBatchedNetworks::Stride - 1) / TBatchedNetworks::Stride;
  const uint64_t sharing = parameters.Bugs >= TWorld::ParallelBugs
                               ? std::min<uint64_t>(static_cast<uint64_t>(std::max(threads, 1)), blocks)
                               : 1;
  total += static_cast<double>((sharing - 1) * pellets * PelletBytesPerExtraThread);

  // Where a tick gathers the eating candidates (sparse worlds), every bug lists the pellets
  // within its reach, and every pellet eaten and moved notes each later bug it now lies
  // within reach of, until that bug's turn. With r pellets within reach of a bug, the notes
  // waiting peak near a third of bugs * r * r; r is below a quarter there.
  if (TWorld::GathersEatingFor(parameters.Bugs, parameters.Food, parameters.FieldWidth, parameters.FieldHeight,
                               parameters.EatingDistance)) {
    const double food = parameters.Food;
    const double area = static_cast<double>(parameters.FieldWidth) * parameters.FieldHeight;
    const double reach = std::min(food, food * M_PI * parameters.EatingDistance * parameters.EatingDistance / area);
    const double active = parameters.Bugs;
    total += active * (2 + reach) * sizeof(int32_t) + active * reach * reach / 3 * sizeof(uint64_t);
  }
  return static_cast<uint64_t>(std::ceil(total));
}

}  // namespace zemlix
