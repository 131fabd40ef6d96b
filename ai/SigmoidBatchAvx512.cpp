// The batched Sigmoid's AVX-512 kernel: the AVX2 kernel's body on eight lanes. Built alone
// with the AVX-512 flags, for the same reason as SigmoidBatchAvx2.cpp (see its head).
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx512.inc"
#include "base/DoubleDoubleLanes.inc"
#include "ai/SigmoidLanes.inc"

}  // namespace

int32_t SigmoidBatchAvx512(const double* activations, double* results, int32_t count, int32_t* undecided) {
  return SigmoidBatchInLanes(activations, results, count, undecided);
}

}  // namespace zemlix
