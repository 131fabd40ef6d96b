// The batched look vector's AVX2 kernel. Like the batched Sigmoid's, the only file here built
// with -mavx2 -mfma: its helpers stay in the anonymous namespace and nothing from a header is
// instantiated, so no AVX2 copy of an inline function can reach other files at link time.
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the batched look vector relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX2__) || !defined(__FMA__)
#error "this file is built with -mavx2 -mfma and called only where the processor has both"
#endif

namespace zemlix {
namespace {

struct TSinCosEntry {
  double SinHi, SinLo, CosHi, CosLo;
};
alignas(64) const TSinCosEntry SinCos64Table[449] = {
#include "world/SinCos64Table.inc"
};

constexpr double FastHeadingLimit = 7;  // m = round(64 |heading|) stays within the table

// Bounds of the distance from the C library's value to the double-double y below: the
// evaluation's own error (the largest parts are the double products of about 2^-24 with
// their rounding of 2^-77, and the cubic term's, 2^-75.6; all together below 2^-74), taken
// as 2^-72; and sinl and cosl within 4 units in their last place, 2^-61 |y|, as the x87 path
// assumes (a test measures them against 113-bit arithmetic), taken as 2^-60.9 |y|.
constexpr double AbsoluteMargin = 0x1p-72;
constexpr double RelativeMargin = 0x1.1p-61;

struct TDoubleDouble {
  __m256d Hi, Lo;
};

inline __m256d Add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
inline __m256d Sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
inline __m256d Mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
inline __m256d Set(double v) { return _mm256_set1_pd(v); }
// a * b - p, exact when p is the rounded a * b: the one use of fused multiply-add here.
inline __m256d ProductError(__m256d a, __m256d b, __m256d p) { return _mm256_fmsub_pd(a, b, p); }

inline TDoubleDouble TwoSum(__m256d a, __m256d b) {
  const __m256d s = Add(a, b);
  const __m256d bb = Sub(s, a);
  return {s, Add(Sub(a, Sub(s, bb)), Sub(b, bb))};
}

inline __m256d Gather(const double* base, __m128i index) {
  // The masked form with a defined source: the plain one leaves GCC warning about it.
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, index, all, 8);
}

// Whether y = hi + lo, within `margin`, rounds to hi as a whole: the interval must stay
// inside hi's rounding interval (half a unit in the last place each way, a quarter on the
// side towards zero when |hi| is a power of two). Zero and subnormal hi never pass.
inline __m256d Decided(__m256d hi, __m256d lo, __m256d margin) {
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m256i bits = _mm256_castpd_si256(hi);
  const __m256d binade = _mm256_castsi256_pd(_mm256_and_si256(bits, _mm256_set1_epi64x(0x7FF0000000000000)));
  const __m256d powerOfTwo = _mm256_castsi256_pd(
      _mm256_cmpeq_epi64(_mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFF)), _mm256_setzero_si256()));
  // lo towards zero: its sign differs from hi's.
  const __m256d towardsZero = _mm256_castsi256_pd(
      _mm256_cmpgt_epi64(_mm256_setzero_si256(), _mm256_castpd_si256(_mm256_xor_pd(hi, lo))));
  const __m256d gap =
      Mul(binade, _mm256_blendv_pd(Set(0x1p-53), Set(0x1p-54), _mm256_and_pd(powerOfTwo, towardsZero)));
  return _mm256_cmp_pd(Add(_mm256_and_pd(lo, absMask), margin), gap, _CMP_LT_OQ);
}

// Four headings: -sin h and cos h, as the definition rounds them in the lanes proven, an
// estimate in the others. Returns the proven lanes: bits 0-3 for -sin, 4-7 for cos.
//
// a = |h| = m/64 + s, m = round(64 a), |s| <= 1/128, s exact (m/64 is a multiple of a's unit
// in the last place). With S + Slo, C + Clo the table's sin and cos of m/64:
//   sin a = S + C s + S (cos s - 1) + C (sin s - s) + (Slo + Clo s + Slo (cos s - 1)),
//   cos a = C - S s + C (cos s - 1) - S (sin s - s) + (Clo - Slo s + Clo (cos s - 1)),
// with C s, S s, S s^2/2 and C s^2/2 as exact double-double products, cos s - 1 =
// -s^2/2 + s^4/24 - s^6/720 + s^8/40320 (s^2 exact as a double-double) and sin s - s =
// s^3 (-1/6 + s^2/120 - s^4/5040 + s^6/362880); the terms left out are below 2^-90.
inline int LookVector4(const double* headings, double* lookX, double* lookY) {
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m256d h = _mm256_loadu_pd(headings);
  const __m256d magnitude = _mm256_and_pd(h, absMask);
  const __m256d inRange = _mm256_cmp_pd(magnitude, Set(FastHeadingLimit), _CMP_LE_OQ);
  const __m256d a = _mm256_and_pd(magnitude, inRange);
  const __m256d m = _mm256_round_pd(Mul(a, Set(64)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const __m256d s = Sub(a, Mul(m, Set(1.0 / 64)));

  const __m128i index = _mm_slli_epi32(_mm256_cvtpd_epi32(m), 2);
  const double* table = &SinCos64Table[0].SinHi;
  const __m256d sinHi = Gather(table, index), sinLo = Gather(table + 1, index);
  const __m256d cosHi = Gather(table + 2, index), cosLo = Gather(table + 3, index);

  const __m256d s2 = Mul(s, s);
  const __m256d s2Error = ProductError(s, s, s2);
  const __m256d half = Mul(s2, Set(0.5));         // s^2/2 = half + halfError exactly
  const __m256d halfError = Mul(s2Error, Set(0.5));
  const __m256d quartic = Mul(Mul(s2, s2), Sub(Set(1.0 / 24), Mul(s2, Sub(Set(1.0 / 720), Mul(s2, Set(1.0 / 40320))))));
  const __m256d cubic = Mul(Mul(s2, s), Add(Set(-1.0 / 6), Mul(s2, Sub(Set(1.0 / 120), Mul(s2, Sub(Set(1.0 / 5040), Mul(s2, Set(1.0 / 362880))))))));
  // cos s - 1 without its leading -half, which enters as an exact product below.
  const __m256d cosRest = Sub(quartic, halfError);

  // sin a.
  const __m256d cs = Mul(cosHi, s);
  const __m256d sHalf = Mul(sinHi, half);
  const TDoubleDouble sin1 = TwoSum(sinHi, cs);
  const TDoubleDouble sin2 = TwoSum(sin1.Hi, Sub(_mm256_setzero_pd(), sHalf));
  const __m256d sinRest = Add(
      Add(sin1.Lo, sin2.Lo),
      Add(Sub(ProductError(cosHi, s, cs), ProductError(sinHi, half, sHalf)),
          Add(Add(sinLo, Mul(cosLo, s)), Add(Mul(sinHi, cosRest), Sub(Mul(cosHi, cubic), Mul(sinLo, half))))));
  TDoubleDouble sine = TwoSum(sin2.Hi, sinRest);

  // cos a.
  const __m256d ss = Mul(sinHi, s);
  const __m256d cHalf = Mul(cosHi, half);
  const TDoubleDouble cos1 = TwoSum(cosHi, Sub(_mm256_setzero_pd(), ss));
  const TDoubleDouble cos2 = TwoSum(cos1.Hi, Sub(_mm256_setzero_pd(), cHalf));
  const __m256d cosRestAll = Add(
      Add(cos1.Lo, cos2.Lo),
      Sub(Sub(Sub(_mm256_setzero_pd(), ProductError(sinHi, s, ss)), ProductError(cosHi, half, cHalf)),
          Sub(Add(Mul(sinLo, s), Mul(cosLo, half)),
              Add(cosLo, Sub(Mul(cosHi, cosRest), Mul(sinHi, cubic))))));
  const TDoubleDouble cosine = TwoSum(cos2.Hi, cosRestAll);

  // sin(-a) = -sin a: -sin h takes the sign of -h.
  const __m256d signOfH = _mm256_andnot_pd(absMask, h);
  const __m256d minusSinHi = _mm256_xor_pd(_mm256_xor_pd(sine.Hi, signOfH), Set(-0.0));
  const __m256d minusSinLo = _mm256_xor_pd(_mm256_xor_pd(sine.Lo, signOfH), Set(-0.0));

  const __m256d sinMargin = Add(Set(AbsoluteMargin), Mul(_mm256_and_pd(sine.Hi, absMask), Set(RelativeMargin)));
  const __m256d cosMargin = Add(Set(AbsoluteMargin), Mul(_mm256_and_pd(cosine.Hi, absMask), Set(RelativeMargin)));
  const __m256d xDecided = _mm256_and_pd(inRange, Decided(minusSinHi, minusSinLo, sinMargin));
  const __m256d yDecided = _mm256_and_pd(inRange, Decided(cosine.Hi, cosine.Lo, cosMargin));
  _mm256_storeu_pd(lookX, minusSinHi);
  _mm256_storeu_pd(lookY, cosine.Hi);
  return _mm256_movemask_pd(xDecided) | _mm256_movemask_pd(yDecided) << 4;
}

}  // namespace

void LookVectorBatchAvx2(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int lanes = LookVector4(headings + i, lookX + i, lookY + i);
    for (int lane = 0; lane < 4; ++lane) decided[i + lane] = static_cast<uint8_t>((lanes >> lane & 1) | (lanes >> (lane + 3) & 2));
  }
  if (i < count) {
    // The last few through a padded copy; the padding's lanes are ignored.
    alignas(32) double in[4] = {0, 0, 0, 0};
    alignas(32) double x[4], y[4];
    for (int32_t k = i; k < count; ++k) in[k - i] = headings[k];
    const int lanes = LookVector4(in, x, y);
    for (int32_t k = i; k < count; ++k) {
      const int lane = k - i;
      decided[k] = static_cast<uint8_t>((lanes >> lane & 1) | (lanes >> (lane + 3) & 2));
      lookX[k] = x[lane];
      lookY[k] = y[lane];
    }
  }
}

}  // namespace zemlix
