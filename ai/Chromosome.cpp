#include "ai/Chromosome.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <stdexcept>
#include <string>

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
    ReachMaximum_.push_back(maximum);
    before += f;
  }
}

TRouletteIndex::TRouletteIndex(std::span<const TChromosome> chromosomes, int32_t n)
    : TRouletteIndex(FitnessOf(chromosomes, n), n) {}

int32_t TRouletteIndex::Pick(int32_t total, double draw) const {
  const double value = static_cast<double>(draw * static_cast<long double>(total));
  // The first j with a reach beyond the value; the last one always is (it reaches the total
  // plus a fitness), since the value never exceeds the total.
  const auto first = std::upper_bound(ReachMaximum_.begin(), ReachMaximum_.end(), value,
                                      [](double v, int64_t reach) { return static_cast<long double>(reach) > v; });
  if (first == ReachMaximum_.end()) return 0;
  return static_cast<int32_t>(first - ReachMaximum_.begin());
}

namespace {

int32_t PickParent(std::span<const int32_t> fitness, int32_t n, int64_t total, const TRouletteIndex& index,
                   TRandomGenerator& random) {
  // The walk ends only when the true sum of the fitness values is positive. A sum of zero
  // or less (only after punishing), or one past 32 bits that would wrap to a positive
  // total, could keep it going for ever: pick uniformly instead, with one draw like the walk.
  if (total > 0 && total <= INT32_MAX) {
    const double draw = random.Random();
    if (index.Usable()) return index.Pick(static_cast<int32_t>(total), draw);
    return RouletteWalk(fitness, n, static_cast<int32_t>(total), draw);
  }
  return std::min(static_cast<int32_t>(random.Random() * n), n - 1);
}

// Breeds fitness.size() children into `children` (child i at i * genomeLength) from as many
// parents: parent j has fitness[j], raised by one here, and the genomeLength genes at
// parentGenes(j), which must stay readable until the last child is made.
void BreedChildren(std::span<int32_t> fitness, const std::function<const double*(int32_t)>& parentGenes,
                   int32_t genomeLength, TRandomGenerator& random, const TBreedRates& rates,
                   std::span<double> children) {
  const int32_t n = static_cast<int32_t>(fitness.size());
  int64_t total = 0;
  for (int32_t& f : fitness) {
    f = WrappingAdd(f, 1);
    total += f;
  }

  const TRouletteIndex index(fitness, n);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t first = PickParent(fitness, n, total, index, random);
    const int32_t second = PickParent(fitness, n, total, index, random);
    const double* firstGenes = parentGenes(first);
    const double* secondGenes = parentGenes(second);
    double* child = children.data() + static_cast<size_t>(i) * genomeLength;

    if (random.Random() <= rates.Crossover) {
      const int32_t point = Round(random.Random() * static_cast<long double>(genomeLength));
      std::copy_n(firstGenes, point, child);
      std::copy(secondGenes + point, secondGenes + genomeLength, child + point);
    } else {
      std::copy_n(fitness[second] < fitness[first] ? firstGenes : secondGenes, genomeLength, child);
    }

    for (double* gene = child; gene != child + genomeLength; ++gene)
      if (random.Random() <= rates.Mutation) *gene = (random.Random() * 2 - 1) * rates.GeneRange;  // * 1 is exact
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
           TRandomGenerator& random, const TBreedRates& rates) {
  const int32_t n = std::min<int64_t>(bugCount, chromosomes.size());
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i)
    if (chromosomes[i].NumGenes != genomeLength || static_cast<int64_t>(chromosomes[i].Genes.size()) != genomeLength)
      throw std::invalid_argument("Breed: every chromosome must have genomeLength genes");

  std::vector<int32_t> fitness = FitnessOf(chromosomes, n);
  std::vector<double> children(static_cast<size_t>(n) * genomeLength);
  BreedChildren(fitness, [&](int32_t j) { return chromosomes[j].Genes.data(); }, genomeLength, random, rates,
                children);
  for (int32_t i = 0; i < n; ++i) {
    std::copy_n(children.begin() + static_cast<ptrdiff_t>(i) * genomeLength, genomeLength,
                chromosomes[i].Genes.begin());
    chromosomes[i].Fitness = 0;
  }
}

void Breed(std::span<TNeuralNet> nets, int32_t bugCount, int32_t genomeLength, TRandomGenerator& random,
           const TBreedRates& rates) {
  const int32_t n = std::min<int64_t>(bugCount, nets.size());
  if (n <= 0) return;
  for (int32_t i = 0; i < n; ++i)
    if (nets[i].CountWeights() != genomeLength)
      throw EFatalError("ERROR <Breed()>: Non-Equal Array Sizes! tried<" + std::to_string(genomeLength) +
                        "> actual<" + std::to_string(nets[i].CountWeights()) + ">");

  std::vector<int32_t> fitness(n);
  for (int32_t i = 0; i < n; ++i) fitness[i] = nets[i].Fitness;
  std::vector<double> children(static_cast<size_t>(n) * genomeLength);
  BreedChildren(fitness, [&](int32_t j) { return nets[j].Weights().data(); }, genomeLength, random, rates,
                children);
  for (int32_t i = 0; i < n; ++i) {
    nets[i].PutWeights(std::span<const double>(children).subspan(static_cast<size_t>(i) * genomeLength));
    nets[i].Fitness = 0;
  }
}

}  // namespace zemlix
