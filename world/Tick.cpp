#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "world/AdvancedMathUnit.h"
#include "world/LookVectorFast.h"
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

// Step 2's first two inputs: the pellet's own position as a unit vector from the field's
// corner; the bug's position only chose the pellet.
void DirectionOf(double x, double y, double& directionX, double& directionY) {
  const long double fx = x;
  const long double fy = y;
  const long double len = std::sqrt(fx * fx + fy * fy);
  directionX = static_cast<double>(fx / len);
  directionY = static_cast<double>(fy / len);
}

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// The turn and the new heading, before the look vector follows it.
void Steer(TCreature& c, double left, double right) {
  // Differences and sums are made in extended precision and rounded once when stored.
  const double turn = std::clamp(static_cast<double>(static_cast<long double>(left) - right), -TurnLimit, TurnLimit);
  c.Speed = static_cast<double>(static_cast<long double>(left) + right);
  c.Heading = static_cast<double>(c.Heading + static_cast<long double>(turn));
}

void MoveAndWrap(TCreature& c, int32_t W, int32_t H) {
  c.MoveStep();
  if (c.X < 0) c.X = W;
  if (c.X > W) c.X = 0;
  if (c.Y < 0) c.Y = H;
  if (c.Y > H) c.Y = 0;
}

// Steering, moving and wrapping at the field's edges.
void Act(TWorldHost& host, TCreature& c, double left, double right) {
  Steer(c, left, right);
  c.SetHeading(c.Heading);
  MoveAndWrap(c, host.FieldWidth(), host.FieldHeight());
}

}  // namespace

void TWorld::Tick() {
  if (!HasPopulation()) return;  // nothing to move before the first Start
  --TimeToLive;
  if (TimeToLive == 0) EndGeneration();
  // No pellet moves while the bugs are updated: one grid serves the searches and the eating.
  TFoodGrid grid;
  const bool fast = LoadFoodGrid(grid);
  UpdateCreatures(fast ? &grid : nullptr);
  EatFood(fast ? &grid : nullptr);
}

bool TWorld::LoadFoodGrid(TFoodGrid& grid) const {
  return !PlainEvaluation() && grid.Load(Food.data(), FoodCount, Host.FieldWidth(), Host.FieldHeight());
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
  const bool fast = LoadFoodGrid(grid);
  return NearestFoodIn(fast ? &grid : nullptr, Food.data(), FoodCount, x, y);
}

// Steps 1 and 2 of a bug's update: the nearest pellet and the network's four inputs.
void TWorld::Sense(int32_t b, const TFoodGrid* grid, double* inputs) {
  const TCreature& c = Creatures[b];
  const int32_t nearest = NearestFoodIn(grid, Food.data(), FoodCount, c.X, c.Y);
  if (b == SelectedBug) SelectedBugFood = nearest;
  TFoodDirection& known = FoodDirections[nearest];
  const TFood& pellet = Food[nearest];
  if (!SameBits(known.X, pellet.X) || !SameBits(known.Y, pellet.Y)) {
    known.X = pellet.X;
    known.Y = pellet.Y;
    DirectionOf(pellet.X, pellet.Y, known.DirectionX, known.DirectionY);
  }
  inputs[0] = known.DirectionX;
  inputs[1] = known.DirectionY;
  inputs[2] = c.LookX;
  inputs[3] = c.LookY;
}

void TWorld::UpdateCreatures() {
  TFoodGrid grid;
  const bool fast = LoadFoodGrid(grid);
  UpdateCreatures(fast ? &grid : nullptr);
}

void TWorld::UpdateCreatures(const TFoodGrid* grid) {
  const bool recording = Host.RecordNNIO();
  const bool showStats = Host.ShowStats();
  NetOutputs.resize(LayerSizes.back(), 0.0);  // allocates once per population shape

  if (recording) {
    // One bug after the other: a failed log line must leave the later bugs untouched.
    for (int32_t b = 0; b < BugCount; ++b) {
      Sense(b, grid, NetInputs.data());
      Nets[b].Compute(NetInputs, NetOutputs);
      if (recording) Log.WriteLog(ExecuteLine(b, NetInputs.data(), NetOutputs[0], NetOutputs[1]));
      Act(Host, Creatures[b], NetOutputs[0], NetOutputs[1]);
      if (showStats && b == SelectedBug) Host.DrawImpulseMeters(NetOutputs[0], NetOutputs[1]);
    }
    return;
  }

  // Without a log no bug's update reads another's, so the same steps run stage by stage over
  // all bugs, and the networks layer by layer across the bugs: the long dependency chains
  // inside one bug's update then overlap with the others'. The meters only show the
  // selected bug's impulses, so they may follow after all bugs have moved.
  double sensed[4];
  for (int32_t b = 0; b < BugCount; ++b) {
    Sense(b, grid, sensed);
    for (int32_t m = 0; m < 4; ++m) Inputs[m][b] = sensed[m];
  }
  if (!Batched.Current(Nets)) Batched.Rebuild(Nets);
  if (Batched.Supported() && !PlainEvaluation() && LayerSizes.back() >= 2) {
    Batched.Compute(BugCount, Inputs, Outputs);
  } else {
    // Networks the layout does not take, and the plain evaluation: one by one.
    for (int32_t b = 0; b < BugCount; ++b) {
      for (int32_t m = 0; m < 4; ++m) NetInputs[m] = Inputs[m][b];
      Nets[b].Compute(NetInputs, NetOutputs);
      Outputs[0][b] = NetOutputs[0];
      Outputs[1][b] = NetOutputs[1];
    }
  }
  // The look vectors follow the new headings, all bugs at once.
  for (int32_t b = 0; b < BugCount; ++b) {
    Steer(Creatures[b], Outputs[0][b], Outputs[1][b]);
    Headings[b] = Creatures[b].Heading;
  }
  LookVectorBatch(Headings.data(), Outputs[2].data(), Outputs[3].data(), BugCount);
  for (int32_t b = 0; b < BugCount; ++b) {
    Creatures[b].LookX = Outputs[2][b];
    Creatures[b].LookY = Outputs[3][b];
  }
  const int32_t W = Host.FieldWidth();
  const int32_t H = Host.FieldHeight();
  for (int32_t b = 0; b < BugCount; ++b) MoveAndWrap(Creatures[b], W, H);
  if (showStats && SelectedBug >= 0 && SelectedBug < BugCount)
    Host.DrawImpulseMeters(Outputs[0][SelectedBug], Outputs[1][SelectedBug]);
}

void TWorld::EatFood() {
  TFoodGrid grid;
  const bool fast = LoadFoodGrid(grid);
  EatFood(fast ? &grid : nullptr);
}

void TWorld::EatFood(TFoodGrid* grid) {
  bool fast = grid != nullptr;
  int32_t candidates[MaxFood];
  for (int32_t b = 0; b < BugCount; ++b) {
    const TCreature& c = Creatures[b];
    const auto eatIfNear = [&](int32_t j) {
      if (Distance(c.X, c.Y, Food[j].X, Food[j].Y) < EatingDistance) {
        ++Nets[b].Fitness;
        ++TotalFitness;
        PlaceFood(j);
        if (fast) fast = grid->Move(j, Food[j]);
      }
    };
    if (fast && TFoodGrid::InRange(c.X) && TFoodGrid::InRange(c.Y)) {
      // The candidates are taken before this bug eats: a pellet it eats moves, but the bug
      // goes on with the next index and never looks at that one again, and no other pellet
      // moves meanwhile.
      const int32_t count = grid->WithinEatingReach(c.X, c.Y, candidates);
      for (int32_t k = 0; k < count; ++k) eatIfNear(candidates[k]);
    } else {
      for (int32_t j = 0; j < FoodCount; ++j) eatIfNear(j);
    }
  }
}

}  // namespace zemlix
