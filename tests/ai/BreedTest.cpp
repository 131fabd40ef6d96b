#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "ai/AIUnit.h"
#include "base/Errors.h"
#include "base/Rounding.h"

namespace zemlix {
namespace {

std::vector<TChromosome> Population(const std::vector<int32_t>& fitness, int32_t genes) {
  std::vector<TChromosome> chromosomes;
  for (size_t i = 0; i < fitness.size(); ++i) {
    chromosomes.emplace_back(genes);
    for (int32_t k = 0; k < genes; ++k) chromosomes.back().Genes[k] = static_cast<double>(i) + k / 100.0;
    chromosomes.back().Fitness = fitness[i];
  }
  return chromosomes;
}

// The binary search must choose as the walk does for every draw: random populations (small
// and large fitness, a single bug, heavy ties), draws from 0 to just below 1, and totals near
// the 32-bit limit where draw * total has fewest fractional bits.
TEST(RouletteIndex, PicksWhatTheWalkPicks) {
  TRandomGenerator random(77);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t n = trial % 7 == 0 ? 1 : 1 + static_cast<int32_t>(random.Random() * 60);
    const int32_t top = trial % 3 == 0 ? 3 : trial % 3 == 1 ? 1000 : 30000000;
    std::vector<int32_t> fitness(n);
    for (int32_t& f : fitness) f = 1 + static_cast<int32_t>(random.Random() * top);
    const auto chromosomes = Population(fitness, 1);
    int64_t total = 0;
    for (int32_t f : fitness) total += f;
    if (total > INT32_MAX) continue;
    const TRouletteIndex index(chromosomes, n);
    ASSERT_TRUE(index.Usable());
    for (double draw : {0.0, 0.5, 1 - 0x1p-53, random.Random(), random.Random(), random.Random()})
      ASSERT_EQ(index.Pick(static_cast<int32_t>(total), draw),
                RouletteWalk(chromosomes, n, static_cast<int32_t>(total), draw))
          << "trial " << trial << " draw " << draw;
  }
  EXPECT_FALSE(TRouletteIndex(Population({3, 0, 2}, 1), 3).Usable());
}

TEST(RouletteWalk, ComparesFitnessWithTheValueLeft) {
  // Raised [1, 10, 1], T = 12, r = 0.5: v = 6 -> 5 (1 > 5 fails) -> -5 (10 > -5 holds).
  const auto chromosomes = Population({1, 10, 1}, 1);
  EXPECT_EQ(RouletteWalk(chromosomes, 3, 12, 0.5), 1);
  EXPECT_EQ(RouletteWalk(chromosomes, 3, 12, 0.0), 0);
  EXPECT_EQ(RouletteWalk(chromosomes, 3, 12, 0.99), 1);
}

TEST(RouletteWalk, AllEqualFitnessNeverPicksTheLast) {
  // Every raised fitness 1, T = n: chromosome 0 while r * n < 2, else j with j + 1 <= r * n < j + 2.
  const int n = 5;
  const auto chromosomes = Population(std::vector<int32_t>(n, 1), 1);
  for (const auto& [r, expected] : std::vector<std::pair<double, int>>{
           {0.0, 0}, {0.39, 0}, {0.4, 1}, {0.59, 1}, {0.6, 2}, {0.8, 3}, {0.99, 3}})
    EXPECT_EQ(RouletteWalk(chromosomes, n, n, r), expected) << r;
}

TEST(RouletteWalk, WrapsPastNegativeFitness) {
  // Raised [-3, 1, 4]: T = 2, r = 0.9 gives v = 1.8 -> 4.8 -> 3.8 -> -0.2 (4 > -0.2).
  const auto chromosomes = Population({-3, 1, 4}, 1);
  EXPECT_EQ(RouletteWalk(chromosomes, 3, 2, 0.9), 2);
  // Raised [-3, 1, 2]: T = 0 is never walked; [-5, 1, 6], T = 2, r = 0.99: 1.98 -> 6.98 ->
  // 5.98 (1 > 5.98 fails) -> -0.02 (6 > -0.02).
  const auto wrapping = Population({-5, 1, 6}, 1);
  EXPECT_EQ(RouletteWalk(wrapping, 3, 2, 0.99), 2);
}

TEST(Breed, ChildrenHaveZeroFitnessAndUpperSlotsAreUntouched) {
  std::vector<int32_t> fitness(200);
  for (int i = 0; i < 200; ++i) fitness[i] = i % 7;
  auto chromosomes = Population(fitness, 44);
  const auto before = chromosomes;
  TRandomGenerator random(2024);
  Breed(chromosomes, 30, 44, random);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(chromosomes[i].Fitness, 0);
  for (int i = 30; i < 200; ++i) {
    EXPECT_EQ(chromosomes[i].Fitness, before[i].Fitness);  // not raised
    EXPECT_EQ(chromosomes[i].Genes, before[i].Genes);
  }
  // Every child gene comes from a parent in the first 30 slots at the same position, or is
  // a fresh mutation in [-1, 1).
  for (int i = 0; i < 30; ++i)
    for (int k = 0; k < 44; ++k) {
      const double gene = chromosomes[i].Genes[k];
      bool fromParent = false;
      for (int p = 0; p < 30; ++p) fromParent |= before[p].Genes[k] == gene;
      EXPECT_TRUE(fromParent || (gene >= -1 && gene < 1)) << i << "," << k;
    }
}

TEST(Breed, DrawCountFollowsTheOrder) {
  // n children: 2 parent draws + 1 crossover decision (+1 point) + 1 per gene (+1 per
  // mutation). Replaying the same rules must end on the same generator state.
  auto chromosomes = Population({3, 0, 5, 1, 2}, 10);
  const auto original = chromosomes;
  TRandomGenerator random(777);
  TRandomGenerator replay(777);
  Breed(chromosomes, 5, 10, random);

  const int raised[5] = {4, 1, 6, 2, 3};
  const int total = 16;
  auto walk = [&](double r) {
    double v = static_cast<double>(r * static_cast<long double>(total));
    int j = 0;
    for (;;) {
      if (j > 4) j = 0;
      v = static_cast<double>(v - static_cast<long double>(raised[j]));
      if (raised[j] > v) return j;
      ++j;
    }
  };
  for (int i = 0; i < 5; ++i) {
    const int p1 = walk(replay.Random());
    const int p2 = walk(replay.Random());
    std::vector<double> child(10);
    if (replay.Random() <= 0.7) {
      const int point = static_cast<int>(std::nearbyint(replay.Random() * 10.0L));
      for (int k = 0; k < 10; ++k) child[k] = (k < point ? original[p1] : original[p2]).Genes[k];
    } else {
      child = (raised[p2] < raised[p1] ? original[p1] : original[p2]).Genes;
    }
    for (double& gene : child)
      if (replay.Random() <= 0.05) gene = replay.Random() * 2 - 1;
    EXPECT_EQ(chromosomes[i].Genes, child) << "child " << i;
  }
  EXPECT_EQ(random.Seed, replay.Seed);
}

TEST(Breed, EqualFitnessWithoutCrossoverCopiesTheSecondParent) {
  // Search for a seed whose third draw skips crossover and whose parents differ.
  for (uint32_t seed = 0; seed < 10000; ++seed) {
    TRandomGenerator probe(seed);
    const double r1 = probe.Random(), r2 = probe.Random(), r3 = probe.Random();
    const int p1 = std::max(0, static_cast<int>(r1 * 4) - 1), p2 = std::max(0, static_cast<int>(r2 * 4) - 1);
    if (r3 <= 0.7 || p1 == p2) continue;
    bool mutates = false;
    for (int k = 0; k < 3; ++k) mutates |= probe.Random() <= 0.05;
    if (mutates) continue;
    auto chromosomes = Population({0, 0, 0, 0}, 3);
    const auto original = chromosomes;
    TRandomGenerator random(seed);
    std::vector<TParentage> origins(4);
    Breed(chromosomes, 4, 3, random, {}, origins);
    EXPECT_EQ(chromosomes[0].Genes, original[p2].Genes);
    // The parent copied leads, though it was drawn second.
    EXPECT_EQ(origins[0], (TParentage{p2, p1, -1, 0}));
    return;
  }
  FAIL() << "no suitable seed found";
}

TEST(Breed, EndsWhenPunishingLeavesNoPositiveTotal) {
  for (int32_t fitness : {-1, -5, -1000000}) {
    auto chromosomes = Population(std::vector<int32_t>(30, fitness), 44);
    TRandomGenerator random(1);
    Breed(chromosomes, 30, 44, random);
    for (const auto& c : chromosomes) EXPECT_EQ(c.Fitness, 0);
  }
  // A sum far below zero that would wrap round 32 bits to a small positive total.
  auto wrapping = Population({INT32_MIN, INT32_MIN + 1}, 3);
  TRandomGenerator wrapRandom(4);
  Breed(wrapping, 2, 3, wrapRandom);
  EXPECT_EQ(wrapping[1].Fitness, 0);
  // A positive total with negative members still walks (and wraps) to an end.
  auto mixed = Population({-3, 0, 4, -2}, 5);
  TRandomGenerator random(99);
  Breed(mixed, 4, 5, random);
  EXPECT_EQ(mixed[2].Fitness, 0);
}

TEST(Breed, ZeroBugsChangesNothing) {
  auto chromosomes = Population({1, 2}, 4);
  const auto before = chromosomes;
  TRandomGenerator random(5);
  Breed(chromosomes, 0, 4, random);
  EXPECT_EQ(random.Seed, 5u);
  EXPECT_EQ(chromosomes[1].Fitness, 2);
  EXPECT_EQ(chromosomes[1].Genes, before[1].Genes);
}

// Breeding the networks in place makes, draw for draw, the children that breeding their
// chromosomes makes: fitness of every kind (ties, negatives, a non-positive total), with
// upper slots left alone.
TEST(Breed, NetworksBreedAsTheirChromosomes) {
  for (const std::vector<int32_t>& fitness : std::vector<std::vector<int32_t>>{
           {3, 0, 5, 1, 2, 7, 0, 0, 4}, {1, 1, 1, 1, 1, 1}, {-3, 0, 4, -2, 9, 1}, {-5, -5, -5, 0}}) {
    TRandomGenerator random(31);
    std::vector<TNeuralNet> nets;
    for (size_t i = 0; i < fitness.size(); ++i) {
      nets.emplace_back(4, std::vector<int32_t>{6, 2}, false, random);
      nets.back().Fitness = fitness[i];
    }
    std::vector<TChromosome> chromosomes(nets.size(), TChromosome(44));
    GetChromosomes(nets, chromosomes, 44);
    const int32_t bugCount = static_cast<int32_t>(nets.size()) - 1;
    const TBreedRates rates{0.6, 0.2, 0.5};
    TRandomGenerator fromChromosomes(1234), fromNets(1234);
    Breed(chromosomes, bugCount, 44, fromChromosomes, rates);
    Breed(std::span<TNeuralNet>(nets), bugCount, 44, fromNets, rates);
    EXPECT_EQ(fromNets.Seed, fromChromosomes.Seed);
    for (size_t i = 0; i < nets.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(std::equal(nets[i].Weights().begin(), nets[i].Weights().end(), chromosomes[i].Genes.begin(),
                             chromosomes[i].Genes.end()));
      EXPECT_EQ(nets[i].Fitness, chromosomes[i].Fitness);
    }
    EXPECT_EQ(nets.back().Fitness, fitness.back());
  }
}

// Breeding overwrites the genomes in place, in whatever order keeps every parent readable:
// the children must be those made from an untouched copy of the parents. Populations with
// many self-choices and cycles (a few fit parents), every child a mutant or none, all
// crossovers or all copies.
TEST(Breed, InPlaceBreedingMakesTheChildrenOfACopiedGeneration) {
  struct TCase {
    int32_t Bugs, Genes, FitnessTop;
    TBreedRates Rates;
  };
  for (const TCase c : {TCase{1, 5, 3, {}}, TCase{2, 3, 1, {}}, TCase{7, 10, 2, {1.0, 0.5, 1.0}},
                        TCase{300, 44, 20, {}}, TCase{300, 44, 0, {0.0, 0.05, 1.0}},
                        TCase{500, 12, 1000, {1.0, 1.0, 0.25}}, TCase{500, 12, 3, {0.7, 0.0, 1.0}},
                        TCase{40, 150, 5, {0.7, 0.4, 1.0}}, TCase{30, 7, 2, {0.7, NAN, 1.0}}}) {
    SCOPED_TRACE(std::to_string(c.Bugs) + " bugs, fitness up to " + std::to_string(c.FitnessTop));
    TRandomGenerator setup(static_cast<uint32_t>(c.Bugs * 31 + c.FitnessTop));
    std::vector<int32_t> fitness(c.Bugs);
    // Mostly unfit bugs and a few fit ones, so that the fit ones parent each other.
    for (int32_t& f : fitness) f = setup.Random() < 0.1 ? static_cast<int32_t>(setup.Random() * (c.FitnessTop + 1)) : 0;
    auto chromosomes = Population(fitness, c.Genes);
    for (auto& chromosome : chromosomes)
      for (double& gene : chromosome.Genes) gene = setup.Random() * 2 - 1;
    const auto parents = chromosomes;

    TRandomGenerator random(c.Bugs + 5u), replay(c.Bugs + 5u);
    Breed(chromosomes, c.Bugs, c.Genes, random, c.Rates);

    std::vector<int32_t> raised(c.Bugs);
    int32_t total = 0;
    for (int32_t j = 0; j < c.Bugs; ++j) total += raised[j] = fitness[j] + 1;
    for (int32_t i = 0; i < c.Bugs; ++i) {
      const TChromosome& first = parents[RouletteWalk(raised, c.Bugs, total, replay.Random())];
      const TChromosome& second = parents[RouletteWalk(raised, c.Bugs, total, replay.Random())];
      TWeightList child(c.Genes);
      if (replay.Random() <= c.Rates.Crossover) {
        const int32_t point = Round(replay.Random() * static_cast<long double>(c.Genes));
        for (int32_t k = 0; k < c.Genes; ++k) child[k] = (k < point ? first : second).Genes[k];
      } else {
        child = second.Fitness + 1 < first.Fitness + 1 ? first.Genes : second.Genes;
      }
      for (double& gene : child)
        if (replay.Random() <= c.Rates.Mutation) gene = (replay.Random() * 2 - 1) * c.Rates.GeneRange;
      ASSERT_EQ(chromosomes[i].Genes, child) << "child " << i;
      EXPECT_EQ(chromosomes[i].Fitness, 0);
    }
    EXPECT_EQ(random.Seed, replay.Seed);
  }
}

TEST(Breed, NetworksOfAnotherGenomeLengthAreFatal) {
  TRandomGenerator random(8);
  std::vector<TNeuralNet> nets;
  for (int i = 0; i < 3; ++i) nets.emplace_back(4, std::vector<int32_t>{6, 2}, false, random);
  const TWeightList before(nets[0].Weights().begin(), nets[0].Weights().end());
  try {
    Breed(std::span<TNeuralNet>(nets), 3, 45, random);
    FAIL() << "no error";
  } catch (const EFatalError& e) {
    EXPECT_STREQ(e.what(), "ERROR <Breed()>: Non-Equal Array Sizes! tried<45> actual<44>");
  }
  EXPECT_TRUE(std::equal(before.begin(), before.end(), nets[0].Weights().begin(), nets[0].Weights().end()));
}

TEST(Chromosomes, RoundTripThroughNetworksLeavesThemUnchanged) {
  TRandomGenerator random(8);
  std::vector<TNeuralNet> nets;
  std::vector<TChromosome> chromosomes;
  for (int i = 0; i < 5; ++i) {
    nets.emplace_back(4, std::vector<int32_t>{6, 2}, false, random);
    nets.back().Fitness = i - 2;
    chromosomes.emplace_back(44);
  }
  std::vector<TWeightList> before;
  for (const auto& net : nets) {
    before.emplace_back(44);
    net.GetWeights(before.back());
  }
  GetChromosomes(nets, chromosomes, 44);
  EXPECT_EQ(chromosomes[0].Fitness, -2);
  EXPECT_EQ(chromosomes[3].Genes, before[3]);
  for (auto& net : nets) net.Fitness = 100;
  PutChromosomes(nets, chromosomes);
  for (int i = 0; i < 5; ++i) {
    TWeightList after(44);
    nets[i].GetWeights(after);
    EXPECT_EQ(after, before[i]);
    EXPECT_EQ(nets[i].Fitness, i - 2);
  }
}

TEST(Chromosomes, SizeMismatchesAreFatalWithTheirMessages) {
  TRandomGenerator random(8);
  std::vector<TNeuralNet> nets;
  for (int i = 0; i < 3; ++i) nets.emplace_back(4, std::vector<int32_t>{6, 2}, false, random);
  std::vector<TChromosome> two(2, TChromosome(44));

  auto messageOf = [](auto&& call) {
    try {
      call();
    } catch (const EFatalError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(messageOf([&] { GetChromosomes(nets, two, 44); }), "ERROR <GetChromosomes()>: Non-Equal Array Sizes!");
  EXPECT_EQ(messageOf([&] { PutChromosomes(nets, two); }), "ERROR <PutChromosomes()>: Non-Equal Array Sizes!");
  TChromosome chromosome(44);
  EXPECT_EQ(messageOf([&] { chromosome.PutChromo(TWeightList(43)); }),
            "ERROR <TChromosome.PutChromo>: Non-Equal Array Sizes! tried<43> actual<44>");

  // No nets: nothing is done or checked.
  std::vector<TNeuralNet> none;
  EXPECT_NO_THROW(GetChromosomes(none, two, 44));
  EXPECT_NO_THROW(PutChromosomes(none, two));
}

}  // namespace
}  // namespace zemlix
