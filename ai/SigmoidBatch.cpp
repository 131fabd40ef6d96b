#include "ai/SigmoidBatch.h"

#include <cstdlib>
#include <cstring>

#include "ai/PlainEvaluation.h"
#include "ai/Sigmoid.h"
#include "ai/SigmoidBatchAvx2.h"
#include "ai/SigmoidBatchAvx512.h"

namespace zemlix {
namespace {

// The fastest kernel the processor runs.
TBatchKernel ProcessorKernel() {
  static const TBatchKernel kernel = [] {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
      return TBatchKernel::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return TBatchKernel::Avx2;
    return TBatchKernel::Portable;
  }();
  return kernel;
}

// A kernel asked for, held to what the processor runs (the enumeration goes from fastest
// to most portable).
TBatchKernel Runnable(TBatchKernel wanted) { return wanted < ProcessorKernel() ? ProcessorKernel() : wanted; }

TBatchKernel EnvironmentKernel() {
  static const TBatchKernel kernel = [] {
    const char* asked = std::getenv("ZEMLIX_BATCH_KERNEL");
    if (!asked) return ProcessorKernel();
    for (TBatchKernel k : {TBatchKernel::Avx512, TBatchKernel::Avx2, TBatchKernel::Portable})
      if (std::strcmp(asked, BatchKernelName(k)) == 0) return Runnable(k);
    return ProcessorKernel();
  }();
  return kernel;
}

bool Forced = false;
TBatchKernel ForcedKernel = TBatchKernel::Portable;

}  // namespace

TBatchKernel BatchKernel() { return Forced ? ForcedKernel : EnvironmentKernel(); }

std::vector<TBatchKernel> AvailableBatchKernels() {
  std::vector<TBatchKernel> kernels;
  for (TBatchKernel k : {TBatchKernel::Avx512, TBatchKernel::Avx2, TBatchKernel::Portable})
    if (k >= ProcessorKernel()) kernels.push_back(k);
  return kernels;
}

const char* BatchKernelName(TBatchKernel kernel) {
  switch (kernel) {
    case TBatchKernel::Avx512: return "avx512";
    case TBatchKernel::Avx2: return "avx2";
    case TBatchKernel::Portable: break;
  }
  return "portable";
}

void ForceBatchKernel(TBatchKernel kernel) {
  Forced = true;
  ForcedKernel = Runnable(kernel);
}

void ReleaseBatchKernel() { Forced = false; }

void ForcePortableBatches(bool force) {
  if (force)
    ForceBatchKernel(TBatchKernel::Portable);
  else
    ReleaseBatchKernel();
}

void SigmoidBatch(const double* activations, double* results, int32_t count) {
  if (PlainEvaluation()) {
    for (int32_t i = 0; i < count; ++i) results[i] = SigmoidReference(activations[i], 1.0);
    return;
  }
  const TBatchKernel kernel = BatchKernel();
  if (kernel == TBatchKernel::Portable) {
    for (int32_t i = 0; i < count; ++i) results[i] = Sigmoid(activations[i], 1.0);
    return;
  }
  // In chunks, so the list of undecided indices fits on the stack.
  constexpr int32_t Chunk = 512;
  int32_t undecided[Chunk];
  for (int32_t start = 0; start < count; start += Chunk) {
    const int32_t size = count - start < Chunk ? count - start : Chunk;
    const int32_t left = kernel == TBatchKernel::Avx512
                             ? SigmoidBatchAvx512(activations + start, results + start, size, undecided)
                             : SigmoidBatchAvx2(activations + start, results + start, size, undecided);
    for (int32_t k = 0; k < left; ++k) {
      const int32_t i = start + undecided[k];
      results[i] = Sigmoid(activations[i], 1.0);
    }
  }
}

}  // namespace zemlix
