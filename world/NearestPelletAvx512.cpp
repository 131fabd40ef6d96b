// The nearest-pellet kernel built for AVX-512; called only where the processor has it.
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the nearest-pellet search relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX512F__) || !defined(__AVX512DQ__) || !defined(__AVX512VL__)
#error "this file is built with -mavx512f -mavx512dq -mavx512vl and called only where the processor has them"
#endif

namespace zemlix {
namespace {

#include "base/LanesAvx512.inc"
#include "world/NearestPelletLanes.inc"

}  // namespace

void NearestPelletsAvx512(const double* bugX, const double* bugY, int32_t count, const double* foodX,
                          const double* foodY, const double* foodIndex, int32_t foodCount, int32_t* nearest,
                          double* leastSquare, double* secondSquare) {
  NearestPelletsInLanes(bugX, bugY, count, foodX, foodY, foodIndex, foodCount, nearest, leastSquare, secondSquare);
}

}  // namespace zemlix
