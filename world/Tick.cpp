#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "world/AdvancedMathUnit.h"
#include "world/FoodGrid.h"
#include "world/World.h"

namespace zemlix {
namespace {

constexpr double TurnLimit = 0.3;
constexpr long double EatingDistance = 6.0L;

// The plain scans, for the test switch and for coordinates outside the fast range.
int32_t NearestFoodPlain(const TFood* food, int32_t count, double x, double y) {
  long double best = Distance(x, y, food[0].X, food[0].Y);
  int32_t nearest = 0;
  for (int32_t j = 1; j < count; ++j) {
    const long double d = Distance(x, y, food[j].X, food[j].Y);
    if (d < best) {
      best = d;
      nearest = j;
    }
  }
  return nearest;
}

int32_t NearestFoodIn(const TFoodGrid* grid, const TFood* food, int32_t count, double x, double y) {
  if (grid && TFoodGrid::InRange(x) && TFoodGrid::InRange(y)) return grid->Nearest(x, y, food);
  return NearestFoodPlain(food, count, x, y);
}

// Whether the first `count` networks are sigmoid networks of 4 inputs and the given layer
// sizes, none wider than `width`: then a forward pass is exactly the layers' outputs in turn.
bool SameShape(const std::vector<TNeuralNet>& nets, int32_t count, const std::vector<int32_t>& sizes,
               int32_t width) {
  if (std::any_of(sizes.begin(), sizes.end(), [&](int32_t size) { return size > width; })) return false;
  for (int32_t b = 0; b < count; ++b) {
    const TNeuralNet& net = nets[b];
    if (net.Step || net.NumInputs != 4 || net.NumLayers != static_cast<int32_t>(sizes.size())) return false;
    for (int32_t k = 0; k < net.NumLayers; ++k)
      if (net.Layers[k].NumNeurons != sizes[k]) return false;
  }
  return true;
}

// Step 1 and 2 of a bug's update: the nearest pellet and the network's four inputs.
void Sense(TWorld& world, int32_t b, const TFoodGrid* grid, double* inputs) {
  const TCreature& c = world.Creatures[b];
  const TFood* food = world.Food.data();
  const int32_t nearest = NearestFoodIn(grid, food, world.FoodCount, c.X, c.Y);
  if (b == world.SelectedBug) world.SelectedBugFood = nearest;

  // The pellet's own position as a unit vector from the field's corner; the bug's
  // position only chose the pellet.
  const long double fx = food[nearest].X;
  const long double fy = food[nearest].Y;
  const long double len = std::sqrt(fx * fx + fy * fy);
  inputs[0] = static_cast<double>(fx / len);
  inputs[1] = static_cast<double>(fy / len);
  inputs[2] = c.LookX;
  inputs[3] = c.LookY;
}

// Steering, moving and wrapping at the field's edges.
void Act(TWorldHost& host, TCreature& c, double left, double right) {
  // Differences and sums are made in extended precision and rounded once when stored.
  const double turn = std::clamp(static_cast<double>(static_cast<long double>(left) - right), -TurnLimit, TurnLimit);
  c.Speed = static_cast<double>(static_cast<long double>(left) + right);
  c.SetHeading(static_cast<double>(c.Heading + static_cast<long double>(turn)));
  c.MoveStep();

  const int32_t W = host.FieldWidth();
  const int32_t H = host.FieldHeight();
  if (c.X < 0) c.X = W;
  if (c.X > W) c.X = 0;
  if (c.Y < 0) c.Y = H;
  if (c.Y > H) c.Y = 0;
}

}  // namespace

void TWorld::Tick() {
  if (!HasPopulation()) return;  // nothing to move before the first Start
  --TimeToLive;
  if (TimeToLive == 0) EndGeneration();
  UpdateCreatures();
  EatFood();
}

void TWorld::EndGeneration() {
  TGenerationReport report{};
  report.BestFitness = Nets[0].Fitness;
  report.WorstFitness = Nets[0].Fitness;
  for (int32_t i = 1; i < BugCount; ++i) {
    report.BestFitness = std::max(report.BestFitness, Nets[i].Fitness);
    report.WorstFitness = std::min(report.WorstFitness, Nets[i].Fitness);
  }

  GetChromosomes(Nets, Chromosomes, GenomeLength);
  Breed(Chromosomes, BugCount, GenomeLength, Random);
  PutChromosomes(Nets, Chromosomes);
  ++Generation;
  AverageFitness = static_cast<double>(static_cast<long double>(TotalFitness) / BugCount);
  report.Generation = Generation;
  report.AverageFitness = AverageFitness;
  report.TotalFitness = TotalFitness;
  TotalFitness = 0;
  TimeToLive = Lifetime();
  if (OnGenerationEnd) OnGenerationEnd(report);
}

int32_t TWorld::NearestFood(double x, double y) const {
  TFoodGrid grid;
  const bool fast =
      !PlainEvaluation() && grid.Load(Food.data(), FoodCount, Host.FieldWidth(), Host.FieldHeight());
  return NearestFoodIn(fast ? &grid : nullptr, Food.data(), FoodCount, x, y);
}

void TWorld::UpdateCreatures() {
  TWeightList inputs(4, 0.0);
  TWeightList outputs(LayerSizes.back(), 0.0);
  const bool recording = Host.RecordNNIO();
  const bool showStats = Host.ShowStats();
  // No pellet moves while the bugs are updated: one grid serves every bug.
  TFoodGrid grid;
  const bool fast =
      !PlainEvaluation() && grid.Load(Food.data(), FoodCount, Host.FieldWidth(), Host.FieldHeight());
  const TFoodGrid* scan = fast ? &grid : nullptr;

  if (recording || showStats) {
    // One bug after the other: a failed log line must leave the later bugs untouched.
    for (int32_t b = 0; b < BugCount; ++b) {
      Sense(*this, b, scan, inputs.data());
      Nets[b].Compute(inputs, outputs);
      if (recording) Log.WriteLog(ExecuteLine(b, inputs.data(), outputs[0], outputs[1]));
      Act(Host, Creatures[b], outputs[0], outputs[1]);
      if (showStats && b == SelectedBug) Host.DrawImpulseMeters(outputs[0], outputs[1]);
    }
    return;
  }

  // Without a log or meters no bug's update reads another's, so the same steps run stage by
  // stage over all bugs, and the networks layer by layer across the bugs: the long
  // dependency chain inside one bug's update then overlaps with the others'.
  constexpr int32_t Width = 8;  // the widest layer this path takes
  using TLayerValues = std::array<std::array<double, Width>, MaxBugs>;
  TLayerValues first, second;
  TLayerValues* current = &first;
  TLayerValues* next = &second;
  std::array<std::array<double, 2>, MaxBugs> impulses;
  for (int32_t b = 0; b < BugCount; ++b) Sense(*this, b, scan, (*current)[b].data());
  if (SameShape(Nets, BugCount, LayerSizes, Width)) {
    for (size_t k = 0; k < LayerSizes.size(); ++k) {
      for (int32_t b = 0; b < BugCount; ++b) Nets[b].Layers[k].Compute((*current)[b].data(), (*next)[b].data());
      std::swap(current, next);
    }
    for (int32_t b = 0; b < BugCount; ++b) impulses[b] = {(*current)[b][0], (*current)[b][1]};
  } else {
    for (int32_t b = 0; b < BugCount; ++b) {
      std::copy_n((*current)[b].begin(), inputs.size(), inputs.begin());
      Nets[b].Compute(inputs, outputs);
      impulses[b] = {outputs[0], outputs[1]};
    }
  }
  for (int32_t b = 0; b < BugCount; ++b) Act(Host, Creatures[b], impulses[b][0], impulses[b][1]);
}

void TWorld::EatFood() {
  TFoodGrid grid;
  bool fast = !PlainEvaluation() && grid.Load(Food.data(), FoodCount, Host.FieldWidth(), Host.FieldHeight());
  int32_t candidates[MaxFood];
  for (int32_t b = 0; b < BugCount; ++b) {
    const TCreature& c = Creatures[b];
    const auto eatIfNear = [&](int32_t j) {
      if (Distance(c.X, c.Y, Food[j].X, Food[j].Y) < EatingDistance) {
        ++Nets[b].Fitness;
        ++TotalFitness;
        PlaceFood(j);
        if (fast) fast = grid.Move(j, Food[j]);
      }
    };
    if (fast && TFoodGrid::InRange(c.X) && TFoodGrid::InRange(c.Y)) {
      // The candidates are taken before this bug eats: a pellet it eats moves, but the bug
      // goes on with the next index and never looks at that one again, and no other pellet
      // moves meanwhile.
      const int32_t count = grid.WithinEatingReach(c.X, c.Y, candidates);
      for (int32_t k = 0; k < count; ++k) eatIfNear(candidates[k]);
    } else {
      for (int32_t j = 0; j < FoodCount; ++j) eatIfNear(j);
    }
  }
}

}  // namespace zemlix
