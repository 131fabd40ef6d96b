#pragma once

#include <cstdint>
#include <span>

#include "ai/NeuralNet.h"
#include "ai/WeightList.h"
#include "base/Random.h"

namespace zemlix {

// One bug's network weights as genes (gene k is the weight at flat index k), with the
// fitness carried alongside.
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

// The roulette walk for one draw in [0, 1) over the first n chromosomes, whose fitness is
// already raised by one and sums to `total` > 0: subtract each fitness from draw * total in
// turn, wrapping to chromosome 0, until a fitness is greater than the value left.
int32_t RouletteWalk(std::span<const TChromosome> chromosomes, int32_t n, int32_t total, double draw);

// Breeds the next generation of the first `bugCount` chromosomes in place: roulette
// selection of two parents, one-point crossover with probability 0.7 (else a copy of the
// fitter parent), per-gene mutation with probability 0.05. Children have fitness 0; slots
// at or above bugCount are untouched. bugCount must not exceed chromosomes.size() and
// every chromosome must have genomeLength genes.
void Breed(std::span<TChromosome> chromosomes, int32_t bugCount, int32_t genomeLength,
           TRandomGenerator& random);

}  // namespace zemlix
