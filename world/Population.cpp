#include <algorithm>
#include <cmath>

#include "base/Rounding.h"
#include "world/Settings.h"
#include "world/World.h"

namespace zemlix {

TWorld::TWorld(TWorldHost& host, TNetworkLog log) : Host(host), Log(std::move(log)) {
  // Entries for the origin, so that every entry matches the coordinates it was made from.
  for (TFoodDirection& known : FoodDirections) {
    const long double len = std::sqrt(0.0L * 0.0L + 0.0L * 0.0L);
    known = {0.0, 0.0, static_cast<double>(0.0L / len), static_cast<double>(0.0L / len)};
  }
}

void TWorld::BuildPopulation() {
  Nets.clear();
  Chromosomes.clear();
  Creatures.clear();

  LayerSizes = {6, 2};
  Nets.reserve(MaxBugs);
  Chromosomes.reserve(MaxBugs);
  for (int32_t i = 0; i < MaxBugs; ++i) {
    Nets.emplace_back(4, LayerSizes, false, Random);
    GenomeLength = Nets.back().CountWeights();
    Chromosomes.emplace_back(GenomeLength);
  }
  Batched.Rebuild(Nets);
  CreateCreatures();
  CreateFood();

  // A box still being typed in can hold a value outside its range; the counts index the
  // slot arrays, so they are held to the boxes' ranges.
  BugCount = std::clamp(Host.NumberOfBugs(), BugCountRange.Minimum, BugCountRange.Maximum);
  FoodCount = std::clamp(Host.NumberOfFood(), FoodCountRange.Minimum, FoodCountRange.Maximum);
  Generation = 0;
  TotalFitness = 0;
  AverageFitness = 0.0;
  TimeToLive = Lifetime();
}

int32_t TWorld::Lifetime() const {
  const int32_t lifetime = Host.CreatureLifetime();
  return lifetime > 0 ? lifetime : LifetimeRange.Minimum;
}

void TWorld::CreateCreatures() {
  const int32_t W = Host.FieldWidth();
  const int32_t H = Host.FieldHeight();
  Creatures.clear();
  Creatures.reserve(MaxBugs);
  for (int32_t i = 0; i < MaxBugs; ++i) {
    const double r1 = Random.Random();
    const double r2 = Random.Random();
    const double r3 = Random.Random();
    const double r4 = Random.Random();
    const int32_t y = Round(H * static_cast<long double>(r1));
    const int32_t x = Round(W * static_cast<long double>(r4));
    Creatures.emplace_back(x, y, static_cast<double>(r2 * 360.0L), r3);
  }
}

void TWorld::CreateFood() {
  for (int32_t i = 0; i < MaxFood; ++i) PlaceFood(i);
}

void TWorld::PlaceFood(int32_t index) {
  const int32_t W = Host.FieldWidth();
  const int32_t H = Host.FieldHeight();
  Food[index].X = static_cast<double>(W * static_cast<long double>(Random.Random()));
  Food[index].Y = static_cast<double>(H * static_cast<long double>(Random.Random()));
}

}  // namespace zemlix
