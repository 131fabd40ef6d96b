// The batched Sigmoid's AVX2 kernel. This is the only file here built with -mavx2 -mfma:
// every helper stays in the anonymous namespace and nothing from a header is instantiated
// here, so no AVX2 copy of an inline function can stand in for the portable one at link
// time. Only SigmoidBatchAvx2 is visible outside (a test checks the object's symbols).
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx2.inc"
#include "base/DoubleDoubleLanes.inc"
#include "ai/SigmoidLanes.inc"

}  // namespace

int32_t SigmoidBatchAvx2(const double* activations, double* results, int32_t count, int32_t* undecided) {
  return SigmoidBatchInLanes(activations, results, count, undecided);
}

}  // namespace zemlix
