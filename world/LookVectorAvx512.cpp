// The batched look vector's AVX-512 kernel: the AVX2 kernel's body on eight lanes. Built alone
// with the AVX-512 flags, like LookVectorAvx2.cpp.
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the batched look vector relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX512F__) || !defined(__AVX512DQ__) || !defined(__AVX512VL__)
#error "this file is built with -mavx512f -mavx512dq -mavx512vl and called only where the processor has them"
#endif

namespace zemlix {
namespace {

#include "base/LanesAvx512.inc"
#include "base/DoubleDoubleLanes.inc"
#include "world/LookVectorLanes.inc"

}  // namespace

void LookVectorBatchAvx512(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided) {
  LookVectorBatchInLanes(headings, lookX, lookY, count, decided);
}

}  // namespace zemlix
