// Breed with any fitness values: it must end (libFuzzer's -timeout catches a hang), read
// nothing out of bounds (ASan), and give children whose every gene is the same-index gene
// of some parent or a fresh mutation in [-1, 1). Slots past the bug count stay untouched.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "ai/Chromosome.h"

namespace {

using zemlix::TChromosome;

// Parent j's gene k: distinct per parent, outside [-1, 1), so a child's gene tells where
// it came from.
double ParentGene(int32_t j, int32_t k) { return 2.0 + j + k / 128.0; }

[[noreturn]] void Fail(const char* what, int32_t i, int32_t k) {
  std::fprintf(stderr, "Breed: %s (child %d, gene %d)\n", what, i, k);
  std::abort();
}

int32_t DrawFitness(FuzzedDataProvider& input, int mode) {
  constexpr int32_t Lowest = std::numeric_limits<int32_t>::min();
  constexpr int32_t Highest = std::numeric_limits<int32_t>::max();
  switch (mode) {
    case 0: return 0;
    case 1: return input.ConsumeIntegralInRange<int32_t>(Lowest, -1);              // all negative
    case 2: return input.ConsumeIntegralInRange<int32_t>(-1000000, -1);            // punished
    case 3: return input.ConsumeBool() ? Highest - input.ConsumeIntegralInRange<int32_t>(0, 3)
                                       : Lowest + input.ConsumeIntegralInRange<int32_t>(0, 3);  // huge
    case 4: return input.ConsumeIntegralInRange<int32_t>(-5, 50);                  // ordinary
    default: return input.ConsumeIntegral<int32_t>();                              // anything
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  zemlix::TRandomGenerator random(input.ConsumeIntegral<uint32_t>());
  const int32_t slots = input.ConsumeIntegralInRange<int32_t>(1, 200);
  const int32_t bugCount = input.ConsumeIntegralInRange<int32_t>(0, slots);
  const int32_t genomeLength = input.ConsumeIntegralInRange<int32_t>(0, 64);
  const int mode = input.ConsumeIntegralInRange(0, 5);

  std::vector<TChromosome> chromosomes;
  chromosomes.reserve(slots);
  for (int32_t j = 0; j < slots; ++j) {
    chromosomes.emplace_back(genomeLength);
    for (int32_t k = 0; k < genomeLength; ++k) chromosomes[j].Genes[k] = ParentGene(j, k);
    chromosomes[j].Fitness = DrawFitness(input, mode);
  }
  const std::vector<TChromosome> before = chromosomes;

  zemlix::Breed(chromosomes, bugCount, genomeLength, random);

  for (int32_t i = 0; i < slots; ++i) {
    const TChromosome& child = chromosomes[i];
    if (child.NumGenes != genomeLength || static_cast<int32_t>(child.Genes.size()) != genomeLength)
      Fail("gene count changed", i, -1);
    if (i >= bugCount) {
      if (child.Fitness != before[i].Fitness || child.Genes != before[i].Genes) Fail("inactive slot changed", i, -1);
      continue;
    }
    if (child.Fitness != 0) Fail("child fitness is not 0", i, -1);
    for (int32_t k = 0; k < genomeLength; ++k) {
      const double gene = child.Genes[k];
      if (gene >= -1.0 && gene < 1.0) continue;  // a mutation
      const double parent = gene - ParentGene(0, k);
      const bool fromParent = parent == std::floor(parent) && parent >= 0 && parent < bugCount &&
                              before[static_cast<int32_t>(parent)].Genes[k] == gene;
      if (!fromParent) Fail("gene neither from a parent at its index nor in [-1, 1)", i, k);
    }
  }
  return 0;
}
