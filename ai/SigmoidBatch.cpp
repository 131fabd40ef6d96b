#include "ai/SigmoidBatch.h"

#include "ai/PlainEvaluation.h"
#include "ai/Sigmoid.h"
#include "ai/SigmoidBatchAvx2.h"

namespace zemlix {
namespace {

bool PortableForced = false;

bool ProcessorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

}  // namespace

TBatchKernel BatchKernel() {
  return ProcessorHasAvx2() && !PortableForced ? TBatchKernel::Avx2 : TBatchKernel::Portable;
}

void ForcePortableBatches(bool force) { PortableForced = force; }

void SigmoidBatch(const double* activations, double* results, int32_t count) {
  if (PlainEvaluation()) {
    for (int32_t i = 0; i < count; ++i) results[i] = SigmoidReference(activations[i], 1.0);
    return;
  }
  if (BatchKernel() == TBatchKernel::Portable) {
    for (int32_t i = 0; i < count; ++i) results[i] = Sigmoid(activations[i], 1.0);
    return;
  }
  // In chunks, so the list of undecided indices fits on the stack.
  constexpr int32_t Chunk = 512;
  int32_t undecided[Chunk];
  for (int32_t start = 0; start < count; start += Chunk) {
    const int32_t size = count - start < Chunk ? count - start : Chunk;
    const int32_t left = SigmoidBatchAvx2(activations + start, results + start, size, undecided);
    for (int32_t k = 0; k < left; ++k) {
      const int32_t i = start + undecided[k];
      results[i] = Sigmoid(activations[i], 1.0);
    }
  }
}

}  // namespace zemlix
