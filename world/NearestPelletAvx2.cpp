// The nearest-pellet kernel built for AVX2; called only where the processor has it.
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the nearest-pellet search relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX2__)
#error "this file is built with -mavx2 -mfma and called only where the processor has it"
#endif

namespace zemlix {
namespace {

using TVector = __m256d;
using TMask = __m256d;
constexpr int32_t Width = 4;
inline TVector Load(const double* p) { return _mm256_loadu_pd(p); }
inline void Store(double* p, TVector v) { _mm256_storeu_pd(p, v); }
inline TVector Broadcast(double v) { return _mm256_set1_pd(v); }
inline TVector Add(TVector a, TVector b) { return _mm256_add_pd(a, b); }
inline TVector Sub(TVector a, TVector b) { return _mm256_sub_pd(a, b); }
inline TVector Mul(TVector a, TVector b) { return _mm256_mul_pd(a, b); }
inline TVector Min(TVector a, TVector b) { return _mm256_min_pd(a, b); }
inline TVector Max(TVector a, TVector b) { return _mm256_max_pd(a, b); }
inline TMask Less(TVector a, TVector b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline TVector Select(TMask m, TVector yes, TVector no) { return _mm256_blendv_pd(no, yes, m); }

// Whether a0 < b0 and a1 < b1 in every lane.
inline bool AllLess(TVector a0, TVector b0, TVector a1, TVector b1) {
  return _mm256_movemask_pd(_mm256_and_pd(Less(a0, b0), Less(a1, b1))) == 0xF;
}

}  // namespace
}  // namespace zemlix

#include "world/NearestPelletLanes.inc"

namespace zemlix {

void NearestPelletsAvx2(const double* bugX, const double* bugY, int32_t count, const double* foodX, const double* foodY,
                        const double* foodIndex, int32_t foodCount, int32_t* nearest, double* leastSquare, double* secondSquare) {
  NearestPelletsInLanes(bugX, bugY, count, foodX, foodY, foodIndex, foodCount, nearest, leastSquare, secondSquare);
}

}  // namespace zemlix
