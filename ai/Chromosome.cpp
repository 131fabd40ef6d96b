#include "ai/Chromosome.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/Errors.h"
#include "base/Rounding.h"

namespace zemlix {
namespace {

// Fitness arithmetic wraps like the 32-bit integers it is defined on, rather than
// overflowing into undefined behaviour after extreme punishing.
int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

int32_t RouletteWalk(std::span<const int32_t> fitness, int32_t n, int32_t total, double draw) {
  // Ends for every positive total: the value left falls by the total on each pass.
  double value = static_cast<double>(draw * static_cast<long double>(total));
  int32_t j = 0;
  for (;;) {
    if (j > n - 1) j = 0;
    value = static_cast<double>(value - static_cast<long double>(fitness[j]));
    if (fitness[j] > value) return j;
    ++j;
  }
}

namespace {

std::vector<int32_t> FitnessOf(std::span<const TChromosome> chromosomes, int32_t n) {
  std::vector<int32_t> fitness(std::max(n, 0));
  for (int32_t j = 0; j < n; ++j) fitness[j] = chromosomes[j].Fitness;
  return fitness;
}

}  // namespace

int32_t RouletteWalk(std::span<const TChromosome> chromosomes, int32_t n, int32_t total, double draw) {
  return RouletteWalk(FitnessOf(chromosomes, n), n, total, draw);
}

TRouletteIndex::TRouletteIndex(std::span<const int32_t> fitness, int32_t n) {
  ReachMaximum_.reserve(n);
  int64_t before = 0, maximum = INT64_MIN;
  for (int32_t j = 0; j < n; ++j) {
    const int64_t f = fitness[j];
    if (f < 1) Usable_ = false;
    maximum = std::max(maximum, before + 2 * f);
    if (maximum >= int64_t{1} << 53) Usable_ = false;
    ReachMaximum_.push_back(static_cast<double>(maximum));
    before += f;
  }
}

TRouletteIndex::TRouletteIndex(std::span<const TChromosome> chromosomes, int32_t n)
    : TRouletteIndex(FitnessOf(chromosomes, n), n) {}

int32_t TRouletteIndex::Pick(int32_t total, double draw) const {
  const double value = static_cast<double>(draw * static_cast<long double>(total));
  // The first j with a reach beyond the value; the last one always is (it reaches the total
  // plus a fitness), since the value never exceeds the total. A search without branches:
  // on random draws half of a search's branches would be guessed wrong.
  const double* const reach = ReachMaximum_.data();
  size_t length = ReachMaximum_.size();
  if (length == 0) return 0;
  const double* first = reach;  // the answer lies in first .. first + length
  while (length > 1) {
    const size_t half = length / 2;
    first = first[half - 1] > value ? first : first + half;
    length -= half;
  }
  const size_t at = static_cast<size_t>(first - reach) + (*first > value ? 0 : 1);
  return at == ReachMaximum_.size() ? 0 : static_cast<int32_t>(at);
}

namespace {

int32_t PickParent(std::span<const int32_t> fitness, int32_t n, int64_t total, const TRouletteIndex& index,
                   double draw) {
  // The walk ends only when the true sum of the fitness values is positive. A sum of zero
  // or less (only after punishing), or one past 32 bits that would wrap to a positive
  // total, could keep it going for ever: pick uniformly instead, with one draw like the walk.
  if (total > 0 && total <= INT32_MAX) {
    if (index.Usable()) return index.Pick(static_cast<int32_t>(total), draw);
    return RouletteWalk(fitness, n, static_cast<int32_t>(total), draw);
  }
  return std::min(static_cast<int32_t>(draw * n), n - 1);
}

// What a child is made of: genes 0 .. Point - 1 of parent First and the rest of parent
// Second (a copy of one parent has both the same), then the mutations that a generator
// started from MutationSeed draws. The draws for mutations do not depend on any gene, so
// every child's draws can be made before any genome changes, and replayed.
struct TRecipe {
  int32_t First, Second, Point;
  uint32_t MutationSeed;
};

// Breeds the genomes 0 .. fitness.size() - 1 in place: genome j holds parent j's genomeLength
// genes at genes(j) and fitness[j] (raised by one here), and is replaced by child j.
//
// All draws come first, in the order that defines them, as one small recipe per child. Then
// each genome is overwritten once no child still to be made reads it; where every genome left
// is still read (parents choose each other in cycles), one of them is kept apart first. So
// only those few genomes are copied, not a whole second generation.
template <typename TGenes>  // double* (int32_t j): genome j's genes; called for every gene copied
void BreedInPlace(std::span<int32_t> fitness, const TGenes& genes, int32_t genomeLength,
                  TRandomGenerator& random, const TBreedRates& rates, std::span<TParentage> parentage) {
  const int32_t n = static_cast<int32_t>(fitness.size());
  if (!parentage.empty() && parentage.size() < fitness.size())
    throw std::invalid_argument("Breed: the parentage has no room for every child");
  std::vector<TRecipe> recipes(n);
  const int64_t mutates = SeedsAtMost(rates.Mutation);  // a gene mutates on a draw's seed up to this
  {
    int64_t total = 0;
    for (int32_t& f : fitness) {
      f = WrappingAdd(f, 1);
      total += f;
    }
    const TRouletteIndex index(fitness, n);
    TDrawsAhead draws(random.Seed);
    for (int32_t i = 0; i < n; ++i) {
      TRecipe& recipe = recipes[i];
      recipe.First = PickParent(fitness, n, total, index, draws.Random());
      recipe.Second = PickParent(fitness, n, total, index, draws.Random());
      TParentage origin{recipe.First, recipe.Second, -1, 0};
      if (draws.Random() <= rates.Crossover) {
        recipe.Point = Round(draws.Random() * static_cast<long double>(genomeLength));
        origin.CrossoverPoint = recipe.Point;
      } else {
        recipe.First = recipe.Second = fitness[recipe.Second] < fitness[recipe.First] ? recipe.First : recipe.Second;
        recipe.Point = genomeLength;
        // The parent copied leads; the other one drawn follows.
        if (origin.ParentA != recipe.First) std::swap(origin.ParentA, origin.ParentB);
      }
      recipe.MutationSeed = draws.Seed();
      for (int32_t k = 0; k < genomeLength; ++k)
        if (draws.NextSeed() <= mutates) {
          draws.NextSeed();  // the new gene's draw
          ++origin.Mutations;
        }
      if (!parentage.empty()) parentage[i] = origin;
    }
    random.Seed = draws.Seed();
  }

  // The parents whose genes child i takes, other than genome i itself (read before it is
  // overwritten); -1 for none.
  const auto parentsOf = [&](int32_t i) {
    const TRecipe& recipe = recipes[i];
    int32_t first = recipe.Point > 0 ? recipe.First : -1;
    int32_t second = recipe.Point < genomeLength && recipe.Second != first ? recipe.Second : -1;
    if (first == i) first = -1;
    if (second == i) second = -1;
    return std::pair{first, second};
  };
  std::vector<int32_t> readers(n, 0);  // children still to be made that read genome j
  for (int32_t i = 0; i < n; ++i) {
    const auto [first, second] = parentsOf(i);
    if (first >= 0) ++readers[first];
    if (second >= 0) ++readers[second];
  }

  std::vector<uint8_t> made(n, 0);
  std::vector<int32_t> keptAt(n, -1);  // where a genome overwritten while still read is kept
  std::vector<TWeightList> kept;
  std::vector<int32_t> freeKept;
  std::vector<int32_t> ready;
  for (int32_t j = 0; j < n; ++j)
    if (readers[j] == 0) ready.push_back(j);
  const auto parentGenes = [&](int32_t j) -> const double* { return keptAt[j] >= 0 ? kept[keptAt[j]].data() : genes(j); };

  TWeightList child(genomeLength);
  int32_t cursor = 0;
  for (int32_t madeCount = 0; madeCount < n;) {
    if (ready.empty()) {
      while (made[cursor]) ++cursor;
      if (freeKept.empty()) {
        freeKept.push_back(static_cast<int32_t>(kept.size()));
        kept.emplace_back(genomeLength);
      }
      keptAt[cursor] = freeKept.back();
      freeKept.pop_back();
      std::copy_n(genes(cursor), genomeLength, kept[keptAt[cursor]].begin());
      ready.push_back(cursor);
    }
    const int32_t i = ready.back();
    ready.pop_back();
    if (made[i]) continue;

    const TRecipe& recipe = recipes[i];
    const double* first = parentGenes(recipe.First);
    const double* second = parentGenes(recipe.Second);
    std::copy_n(first, recipe.Point, child.begin());
    std::copy(second + recipe.Point, second + genomeLength, child.begin() + recipe.Point);
    TDrawsAhead mutations(recipe.MutationSeed);
    for (double& gene : child)
      if (mutations.NextSeed() <= mutates) gene = (mutations.Random() * 2 - 1) * rates.GeneRange;  // * 1 is exact
    std::copy(child.begin(), child.end(), genes(i));
    made[i] = 1;
    ++madeCount;

    const auto [firstParent, secondParent] = parentsOf(i);
    for (const int32_t parent : {firstParent, secondParent}) {
      if (parent < 0 || --readers[parent] > 0) continue;
      if (keptAt[parent] >= 0) {
        freeKept.push_back(keptAt[parent]);
        keptAt[parent] = -1;
      } else if (!made[parent]) {
        ready.push_back(parent);
      }
    }
  }
}

}  // namespace

TChromosome::TChromosome(int32_t NumGenes) : NumGenes(NumGenes), Genes(std::max(NumGenes, 0), 0.0) {}

void TChromosome::PutChromo(const TWeightList& genes) {
  if (static_cast<int64_t>(genes.size()) != NumGenes)
    throw EFatalError("ERROR <TChromosome.PutChromo>: Non-Equal Array Sizes! tried<" +
                      std::to_string(genes.size()) + "> actual<" + std::to_string(NumGenes) + ">");
  std::copy(genes.begin(), genes.end(), Genes.begin());
}

void GetChromosomes(std::span<const TNeuralNet> nets, std::span<TChromosome> chromosomes,
                    int32_t genomeLength) {
  if (nets.empty()) return;
  if (nets.size() != chromosomes.size())
    throw EFatalError("ERROR <GetChromosomes()>: Non-Equal Array Sizes!");
  TWeightList weights(std::max(genomeLength, 0));
  for (size_t i = 0; i < nets.size(); ++i) {
    chromosomes[i].Fitness = nets[i].Fitness;
    nets[i].GetWeights(weights);
    chromosomes[i].PutChromo(weights);
  }
}

void PutChromosomes(std::span<TNeuralNet> nets, std::span<const TChromosome> chromosomes) {
  if (nets.empty()) return;
  if (nets.size() != chromosomes.size())
    throw EFatalError("ERROR <PutChromosomes()>: Non-Equal Array Sizes!");
  for (size_t i = 0; i < nets.size(); ++i) {
    nets[i].Fitness = chromosomes[i].Fitness;
    nets[i].PutWeights(chromosomes[i].Genes);
  }
}

void Breed(std::span<TChromosome> chromosomes, int32_t bugCount, int32_t genomeLength,
           TRandomGenerator& random, const TBreedRates& rates, std::span<TParentage> parentage) {
  const int32_t n = std::min<int64_t>(bugCount, chromosomes.size());
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i)
    if (chromosomes[i].NumGenes != genomeLength || static_cast<int64_t>(chromosomes[i].Genes.size()) != genomeLength)
      throw std::invalid_argument("Breed: every chromosome must have genomeLength genes");

  std::vector<int32_t> fitness = FitnessOf(chromosomes, n);
  BreedInPlace(fitness, [&](int32_t j) { return chromosomes[j].Genes.data(); }, genomeLength, random, rates,
               parentage);
  for (int32_t i = 0; i < n; ++i) chromosomes[i].Fitness = 0;
}

void Breed(std::span<TNeuralNet> nets, int32_t bugCount, int32_t genomeLength, TRandomGenerator& random,
           const TBreedRates& rates, std::span<TParentage> parentage) {
  const int32_t n = std::min<int64_t>(bugCount, nets.size());
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i)
    if (nets[i].CountWeights() != genomeLength)
      throw EFatalError("ERROR <Breed()>: Non-Equal Array Sizes! tried<" + std::to_string(genomeLength) +
                        "> actual<" + std::to_string(nets[i].CountWeights()) + ">");

  std::vector<int32_t> fitness(n);
  for (int32_t i = 0; i < n; ++i) fitness[i] = nets[i].Fitness;
  BreedInPlace(fitness, [&](int32_t j) { return nets[j].Weights().data(); }, genomeLength, random, rates, parentage);
  for (int32_t i = 0; i < n; ++i) nets[i].Fitness = 0;
}

}  // namespace zemlix
