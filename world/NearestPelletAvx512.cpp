// The nearest-pellet kernel built for AVX-512; called only where the processor has it.
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the nearest-pellet search relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX512F__)
#error "this file is built with -mavx512f and called only where the processor has it"
#endif

namespace zemlix {
namespace {

using TVector = __m512d;
using TMask = __mmask8;
constexpr int32_t Width = 8;
inline TVector Load(const double* p) { return _mm512_loadu_pd(p); }
inline void Store(double* p, TVector v) { _mm512_storeu_pd(p, v); }
inline TVector Broadcast(double v) { return _mm512_set1_pd(v); }
inline TVector Add(TVector a, TVector b) { return _mm512_add_pd(a, b); }
inline TVector Sub(TVector a, TVector b) { return _mm512_sub_pd(a, b); }
inline TVector Mul(TVector a, TVector b) { return _mm512_mul_pd(a, b); }
inline TVector Min(TVector a, TVector b) { return _mm512_maskz_min_pd(0xFF, a, b); }  // the masked form: GCC warns about the plain one
inline TVector Max(TVector a, TVector b) { return _mm512_maskz_max_pd(0xFF, a, b); }
inline TMask Less(TVector a, TVector b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
inline TVector Select(TMask m, TVector yes, TVector no) { return _mm512_mask_blend_pd(m, no, yes); }

// Whether a0 < b0 and a1 < b1 in every lane.
inline bool AllLess(TVector a0, TVector b0, TVector a1, TVector b1) { return (Less(a0, b0) & Less(a1, b1)) == 0xFF; }

}  // namespace
}  // namespace zemlix

#include "world/NearestPelletLanes.inc"

namespace zemlix {

void NearestPelletsAvx512(const double* bugX, const double* bugY, int32_t count, const double* foodX, const double* foodY,
                        const double* foodIndex, int32_t foodCount, int32_t* nearest, double* leastSquare, double* secondSquare) {
  NearestPelletsInLanes(bugX, bugY, count, foodX, foodY, foodIndex, foodCount, nearest, leastSquare, secondSquare);
}

}  // namespace zemlix
