#include <algorithm>
#include <cmath>

#include "base/Rounding.h"
#include "world/Settings.h"
#include "world/World.h"

namespace zemlix {

int32_t TWorldHost::MaximumBugs() const { return BugCountRange.Maximum; }
int32_t TWorldHost::MaximumFood() const { return FoodCountRange.Maximum; }

TWorld::TWorld(TWorldHost& host, TNetworkLog log) : Host(host), Log(std::move(log)) {}

void TWorld::BuildPopulation() {
  Nets.clear();
  Creatures.clear();

  // A box still being typed in can hold a value outside its range; the counts index the
  // slots, so they are held to the host's range.
  const int32_t bugs = std::clamp(Host.NumberOfBugs(), BugCountRange.Minimum, Host.MaximumBugs());
  const int32_t food = std::clamp(Host.NumberOfFood(), FoodCountRange.Minimum, Host.MaximumFood());
  BugSlots = BugSlotsFor(bugs);
  FoodSlots = FoodSlotsFor(food);

  LayerSizes = Parameters.LayerSizes();
  Nets.reserve(BugSlots);
  for (int32_t i = 0; i < BugSlots; ++i) {
    Nets.emplace_back(4, LayerSizes, false, Random);
    GenomeLength = Nets.back().CountWeights();
    // The same product as a mutation's: (draw * 2 - 1) * range.
    if (Parameters.GeneRange != 1.0)
      for (double& weight : Nets.back().Weights()) weight *= Parameters.GeneRange;
  }
  RebuildBatched();
  Parentage.assign(BugSlots, TParentage{});
  CreateCreatures();
  CreateFood();

  BugCount = bugs;
  FoodCount = food;
  Generation = 0;
  KeptActivationsBug = -1;
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
  Creatures.reserve(BugSlots);
  for (int32_t i = 0; i < BugSlots; ++i) {
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
  Food.resize(FoodSlots);
  // Entries for the origin, so that every entry matches the coordinates it was made from.
  const long double len = std::sqrt(0.0L * 0.0L + 0.0L * 0.0L);
  FoodDirections.resize(FoodSlots, {0.0, 0.0, static_cast<double>(0.0L / len), static_cast<double>(0.0L / len)});
  for (int32_t i = 0; i < FoodSlots; ++i) PlaceFood(i);
}

void TWorld::RebuildBatched() {
  const size_t stride = TBatchedNetworks::Stride;
  Batched.resize((Nets.size() + stride - 1) / stride);
  for (size_t block = 0; block < Batched.size(); ++block)
    Batched[block].Rebuild(std::span<const TNeuralNet>(Nets).subspan(block * stride));
}

bool TWorld::BatchedCurrent() const {
  const size_t stride = TBatchedNetworks::Stride;
  return Batched.size() == (Nets.size() + stride - 1) / stride;
}

void TWorld::PlaceFood(int32_t index) {
  const int32_t W = Host.FieldWidth();
  const int32_t H = Host.FieldHeight();
  Food[index].X = static_cast<double>(W * static_cast<long double>(Random.Random()));
  Food[index].Y = static_cast<double>(H * static_cast<long double>(Random.Random()));
}

}  // namespace zemlix
