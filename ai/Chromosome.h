#pragma once

#include <cstdint>
#include <span>

#include "ai/NeuralNet.h"
#include "ai/WeightList.h"
#include "base/Random.h"

namespace zemlix {

// One bug's network weights as genes (gene k is the weight at flat index k), with the
// fitness carried alongside. The world breeds from its networks directly; chromosomes are
// for callers that want the genes apart from any network.
class TChromosome {
 public:
  explicit TChromosome(int32_t NumGenes);

  // Replaces all genes; a list of another size is a fatal error.
  void PutChromo(const TWeightList& genes);

  int32_t NumGenes;
  TWeightList Genes;
  int32_t Fitness = 0;
};

// Copies fitness and weights of every network into the chromosome of the same slot.
// No nets: nothing happens. Lists of unequal size: fatal error.
void GetChromosomes(std::span<const TNeuralNet> nets, std::span<TChromosome> chromosomes,
                    int32_t genomeLength);

// Copies fitness and genes of every chromosome back into the network of the same slot.
void PutChromosomes(std::span<TNeuralNet> nets, std::span<const TChromosome> chromosomes);

// The roulette walk for one draw in [0, 1) over the first n fitness values, already raised
// by one and summing to `total` > 0: subtract each fitness from draw * total in turn,
// wrapping to the first, until a fitness is greater than the value left.
int32_t RouletteWalk(std::span<const int32_t> fitness, int32_t n, int32_t total, double draw);
// The same over the chromosomes' fitness.
int32_t RouletteWalk(std::span<const TChromosome> chromosomes, int32_t n, int32_t total, double draw);

// The same choice as RouletteWalk for every draw, found by a binary search: for fitness
// values of 1 or more the walk stops at the first j whose fitness before it plus twice its
// own exceeds draw * total (every value the walk forms on the way is then an exact double).
// Built once per generation, so that a large population breeds in n log n, not n^2.
class TRouletteIndex {
 public:
  // Usable() is false when a fitness is below 1; then only RouletteWalk decides.
  TRouletteIndex(std::span<const int32_t> fitness, int32_t n);
  TRouletteIndex(std::span<const TChromosome> chromosomes, int32_t n);
  bool Usable() const { return Usable_; }
  int32_t Pick(int32_t total, double draw) const;

 private:
  // The running maximum of before_j + 2 fitness_j: whole numbers below 2^53, exact in a
  // double, while Usable.
  std::vector<double> ReachMaximum_;
  bool Usable_ = true;
};

// Where one child came from: its two parents (their bug numbers in the generation that bred
// it), the crossover point (-1: none) and how many of its genes mutated. Without crossover
// the child is a copy of the fitter of the two parents drawn: ParentA is the parent copied
// and ParentB the other one drawn, which gave it no genes. A child with crossover takes
// genes 0 .. CrossoverPoint - 1 from ParentA and the rest from ParentB (a point of 0 or of
// the genome's length takes all from one of them). A bug that no generation end has bred
// yet has none of this: every field -1.
struct TParentage {
  int32_t ParentA = -1;
  int32_t ParentB = -1;
  int32_t CrossoverPoint = -1;
  int32_t Mutations = -1;
  bool Known() const { return ParentA >= 0; }
  bool operator==(const TParentage&) const = default;
};

// What breeding varies; the defaults are the model's.
struct TBreedRates {
  double Crossover = 0.7;
  double Mutation = 0.05;
  double GeneRange = 1.0;  // a mutated gene is drawn from [-GeneRange, GeneRange)
};

// Breeds the next generation of the first `bugCount` chromosomes in place: roulette
// selection of two parents, one-point crossover with probability rates.Crossover (else a
// copy of the fitter parent), per-gene mutation with probability rates.Mutation. Children
// have fitness 0; slots at or above bugCount are untouched. bugCount must not exceed
// chromosomes.size() and every chromosome must have genomeLength genes. When `parentage` is
// not empty, child i's origin goes to parentage[i] for every child bred (it must have room
// for them); recording it draws nothing and changes no child.
void Breed(std::span<TChromosome> chromosomes, int32_t bugCount, int32_t genomeLength,
           TRandomGenerator& random, const TBreedRates& rates = {}, std::span<TParentage> parentage = {});

// The same breeding, with the same draws, from the networks' own weights and fitness, in
// place: the children replace the weights of the first `bugCount` networks, whose fitness
// becomes 0, and only the parents that a cycle of choices needs are copied meanwhile. A
// network among them whose weight count is not genomeLength is a fatal error. `parentage`
// as above.
void Breed(std::span<TNeuralNet> nets, int32_t bugCount, int32_t genomeLength,
           TRandomGenerator& random, const TBreedRates& rates = {}, std::span<TParentage> parentage = {});

}  // namespace zemlix
