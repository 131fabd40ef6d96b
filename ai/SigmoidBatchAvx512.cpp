// The batched Sigmoid's AVX-512 kernel: the AVX2 kernel's body on eight lanes. Built alone
// with the AVX-512 flags, for the same reason as SigmoidBatchAvx2.cpp (see its head).
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the batched Sigmoid relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX512F__) || !defined(__AVX512DQ__) || !defined(__AVX512VL__)
#error "this file is built with -mavx512f -mavx512dq -mavx512vl and called only where the processor has them"
#endif

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
