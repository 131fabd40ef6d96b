#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "world/AdvancedMathUnit.h"
#include "world/Settings.h"
#include "world/World.h"

namespace zemlix {
namespace {

constexpr double TurnLimit = 0.3;
constexpr long double EatingDistance = 6.0L;

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
  // A lifetime of 0 or less (a box still being typed in) would let the countdown pass 0
  // and never end a generation again.
  const int32_t lifetime = Host.CreatureLifetime();
  TimeToLive = lifetime > 0 ? lifetime : LifetimeRange.Minimum;
  if (OnGenerationEnd) OnGenerationEnd(report);
}

int32_t TWorld::NearestFood(double x, double y) const {
  long double best = Distance(x, y, Food[0].X, Food[0].Y);
  int32_t nearest = 0;
  for (int32_t j = 1; j < FoodCount; ++j) {
    const long double d = Distance(x, y, Food[j].X, Food[j].Y);
    if (d < best) {
      best = d;
      nearest = j;
    }
  }
  return nearest;
}

void TWorld::UpdateCreatures() {
  TWeightList inputs(4, 0.0);
  TWeightList outputs(LayerSizes.back(), 0.0);
  const bool recording = Host.RecordNNIO();
  const bool showStats = Host.ShowStats();

  for (int32_t b = 0; b < BugCount; ++b) {
    TCreature& c = Creatures[b];
    const int32_t nearest = NearestFood(c.X, c.Y);
    if (b == SelectedBug) SelectedBugFood = nearest;

    // The pellet's own position as a unit vector from the field's corner; the bug's
    // position only chose the pellet.
    const long double fx = Food[nearest].X;
    const long double fy = Food[nearest].Y;
    const long double len = std::sqrt(fx * fx + fy * fy);
    inputs[0] = static_cast<double>(fx / len);
    inputs[1] = static_cast<double>(fy / len);
    inputs[2] = c.LookX;
    inputs[3] = c.LookY;

    Nets[b].Compute(inputs, outputs);
    const double left = outputs[0];
    const double right = outputs[1];
    if (recording) Log.WriteLog(ExecuteLine(b, inputs.data(), left, right));

    // Differences and sums are made in extended precision and rounded once when stored.
    const double turn = std::clamp(static_cast<double>(static_cast<long double>(left) - right), -TurnLimit, TurnLimit);
    c.Speed = static_cast<double>(static_cast<long double>(left) + right);
    c.SetHeading(static_cast<double>(c.Heading + static_cast<long double>(turn)));
    c.MoveStep();

    const int32_t W = Host.FieldWidth();
    const int32_t H = Host.FieldHeight();
    if (c.X < 0) c.X = W;
    if (c.X > W) c.X = 0;
    if (c.Y < 0) c.Y = H;
    if (c.Y > H) c.Y = 0;

    if (showStats && b == SelectedBug) Host.DrawImpulseMeters(left, right);
  }
}

void TWorld::EatFood() {
  for (int32_t b = 0; b < BugCount; ++b) {
    const TCreature& c = Creatures[b];
    for (int32_t j = 0; j < FoodCount; ++j) {
      if (Distance(c.X, c.Y, Food[j].X, Food[j].Y) < EatingDistance) {
        ++Nets[b].Fitness;
        ++TotalFitness;
        PlaceFood(j);
      }
    }
  }
}

}  // namespace zemlix
