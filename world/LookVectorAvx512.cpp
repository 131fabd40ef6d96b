// The batched look vector's AVX-512 kernel: LookVectorAvx2.cpp on eight lanes, operation for
// operation, so both decide the same values and store the same bits. Built alone with the
// AVX-512 flags, like that file; the comments on the evaluation and its bounds are there.
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

struct TSinCosEntry {
  double SinHi, SinLo, CosHi, CosLo;
};
alignas(64) const TSinCosEntry SinCos64Table[449] = {
#include "world/SinCos64Table.inc"
};

constexpr double FastHeadingLimit = 7;
constexpr double AbsoluteMargin = 0x1p-72;
constexpr double RelativeMargin = 0x1.1p-61;

struct TDoubleDouble {
  __m512d Hi, Lo;
};

inline __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
inline __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
inline __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
inline __m512d Set(double v) { return _mm512_set1_pd(v); }
inline __m512d ProductError(__m512d a, __m512d b, __m512d p) { return _mm512_fmsub_pd(a, b, p); }

// The masked forms with defined sources, all lanes on: the plain ones leave GCC warning about
// their undefined sources.
constexpr __mmask8 AllLanes = 0xFF;
inline __m512d RoundToInteger(__m512d v) {
  return _mm512_mask_roundscale_pd(_mm512_setzero_pd(), AllLanes, v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline __m256i ToInt32(__m512d v) { return _mm512_mask_cvtpd_epi32(_mm256_setzero_si256(), AllLanes, v); }
inline __m512d Gather(const double* base, __m256i index) {
  return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), AllLanes, index, base, 8);
}

inline TDoubleDouble TwoSum(__m512d a, __m512d b) {
  const __m512d s = Add(a, b);
  const __m512d bb = Sub(s, a);
  return {s, Add(Sub(a, Sub(s, bb)), Sub(b, bb))};
}

inline __mmask8 Decided(__m512d hi, __m512d lo, __m512d margin) {
  const __m512i bits = _mm512_castpd_si512(hi);
  const __m512d binade = _mm512_castsi512_pd(_mm512_and_si512(bits, _mm512_set1_epi64(0x7FF0000000000000)));
  const __mmask8 powerOfTwo =
      _mm512_cmpeq_epi64_mask(_mm512_and_si512(bits, _mm512_set1_epi64(0x000FFFFFFFFFFFFF)), _mm512_setzero_si512());
  const __mmask8 towardsZero =
      _mm512_cmplt_epi64_mask(_mm512_castpd_si512(_mm512_xor_pd(hi, lo)), _mm512_setzero_si512());
  const __m512d gap = Mul(binade, _mm512_mask_blend_pd(powerOfTwo & towardsZero, Set(0x1p-53), Set(0x1p-54)));
  return _mm512_cmp_pd_mask(Add(_mm512_abs_pd(lo), margin), gap, _CMP_LT_OQ);
}

// Eight headings; stores every lane's estimate and returns the proven lanes: bits 0-7 for
// -sin, 8-15 for cos.
inline int LookVector8(const double* headings, double* lookX, double* lookY) {
  const __m512d h = _mm512_loadu_pd(headings);
  const __m512d magnitude = _mm512_abs_pd(h);
  const __mmask8 inRange = _mm512_cmp_pd_mask(magnitude, Set(FastHeadingLimit), _CMP_LE_OQ);
  const __m512d a = _mm512_maskz_mov_pd(inRange, magnitude);
  const __m512d m = RoundToInteger(Mul(a, Set(64)));
  const __m512d s = Sub(a, Mul(m, Set(1.0 / 64)));

  const __m256i index = _mm256_slli_epi32(ToInt32(m), 2);
  const double* table = &SinCos64Table[0].SinHi;
  const __m512d sinHi = Gather(table, index), sinLo = Gather(table + 1, index);
  const __m512d cosHi = Gather(table + 2, index), cosLo = Gather(table + 3, index);

  const __m512d s2 = Mul(s, s);
  const __m512d s2Error = ProductError(s, s, s2);
  const __m512d half = Mul(s2, Set(0.5));
  const __m512d halfError = Mul(s2Error, Set(0.5));
  const __m512d quartic = Mul(Mul(s2, s2), Sub(Set(1.0 / 24), Mul(s2, Sub(Set(1.0 / 720), Mul(s2, Set(1.0 / 40320))))));
  const __m512d cubic = Mul(Mul(s2, s), Add(Set(-1.0 / 6), Mul(s2, Sub(Set(1.0 / 120), Mul(s2, Sub(Set(1.0 / 5040), Mul(s2, Set(1.0 / 362880))))))));
  const __m512d cosRest = Sub(quartic, halfError);

  const __m512d cs = Mul(cosHi, s);
  const __m512d sHalf = Mul(sinHi, half);
  const TDoubleDouble sin1 = TwoSum(sinHi, cs);
  const TDoubleDouble sin2 = TwoSum(sin1.Hi, Sub(_mm512_setzero_pd(), sHalf));
  const __m512d sinRest = Add(
      Add(sin1.Lo, sin2.Lo),
      Add(Sub(ProductError(cosHi, s, cs), ProductError(sinHi, half, sHalf)),
          Add(Add(sinLo, Mul(cosLo, s)), Add(Mul(sinHi, cosRest), Sub(Mul(cosHi, cubic), Mul(sinLo, half))))));
  const TDoubleDouble sine = TwoSum(sin2.Hi, sinRest);

  const __m512d ss = Mul(sinHi, s);
  const __m512d cHalf = Mul(cosHi, half);
  const TDoubleDouble cos1 = TwoSum(cosHi, Sub(_mm512_setzero_pd(), ss));
  const TDoubleDouble cos2 = TwoSum(cos1.Hi, Sub(_mm512_setzero_pd(), cHalf));
  const __m512d cosRestAll = Add(
      Add(cos1.Lo, cos2.Lo),
      Sub(Sub(Sub(_mm512_setzero_pd(), ProductError(sinHi, s, ss)), ProductError(cosHi, half, cHalf)),
          Sub(Add(Mul(sinLo, s), Mul(cosLo, half)),
              Add(cosLo, Sub(Mul(cosHi, cosRest), Mul(sinHi, cubic))))));
  const TDoubleDouble cosine = TwoSum(cos2.Hi, cosRestAll);

  const __m512d signOfH = _mm512_xor_pd(h, magnitude);
  const __m512d minusSinHi = _mm512_xor_pd(_mm512_xor_pd(sine.Hi, signOfH), Set(-0.0));
  const __m512d minusSinLo = _mm512_xor_pd(_mm512_xor_pd(sine.Lo, signOfH), Set(-0.0));

  const __m512d sinMargin = Add(Set(AbsoluteMargin), Mul(_mm512_abs_pd(sine.Hi), Set(RelativeMargin)));
  const __m512d cosMargin = Add(Set(AbsoluteMargin), Mul(_mm512_abs_pd(cosine.Hi), Set(RelativeMargin)));
  const __mmask8 xDecided = inRange & Decided(minusSinHi, minusSinLo, sinMargin);
  const __mmask8 yDecided = inRange & Decided(cosine.Hi, cosine.Lo, cosMargin);
  _mm512_storeu_pd(lookX, minusSinHi);
  _mm512_storeu_pd(lookY, cosine.Hi);
  return xDecided | yDecided << 8;
}

}  // namespace

void LookVectorBatchAvx512(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided) {
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const int lanes = LookVector8(headings + i, lookX + i, lookY + i);
    for (int lane = 0; lane < 8; ++lane)
      decided[i + lane] = static_cast<uint8_t>((lanes >> lane & 1) | (lanes >> (lane + 7) & 2));
  }
  if (i < count) {
    alignas(64) double in[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    alignas(64) double x[8], y[8];
    for (int32_t k = i; k < count; ++k) in[k - i] = headings[k];
    const int lanes = LookVector8(in, x, y);
    for (int32_t k = i; k < count; ++k) {
      const int lane = k - i;
      decided[k] = static_cast<uint8_t>((lanes >> lane & 1) | (lanes >> (lane + 7) & 2));
      lookX[k] = x[lane];
      lookY[k] = y[lane];
    }
  }
}

}  // namespace zemlix
