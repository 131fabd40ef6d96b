// The batched Sigmoid's AVX2 kernel. This is the only file built with -mavx2 -mfma: every
// helper stays in the anonymous namespace and nothing from a header is instantiated here,
// so no AVX2 copy of an inline function can stand in for the portable one at link time.
// Only SigmoidBatchAvx2 is visible outside (a test checks the object's symbols).
#include <immintrin.h>

#include <cstdint>

#ifdef __FAST_MATH__
#error "the batched Sigmoid relies on exact IEEE arithmetic: never build it with -ffast-math"
#endif
#if !defined(__AVX2__) || !defined(__FMA__)
#error "this file is built with -mavx2 -mfma and called only where the processor has both"
#endif

namespace zemlix {
namespace {

// 2^(i/256) = Hi + Lo to about 2^-106.
struct TExp2Entry {
  double Hi;
  double Lo;
};
alignas(64) const TExp2Entry Exp2Table[256] = {
#include "ai/Exp2Table.inc"
};

// log2(2.7183L) and ln 2, each as a sum of two doubles to about 2^-106.
constexpr double Log2BaseHi = 0x1.71551820a3aacp+0;
constexpr double Log2BaseLo = 0x1.7fa538e299734p-54;
constexpr double Ln2Hi = 0x1.62e42fefa39efp-1;
constexpr double Ln2Lo = 0x1.abc9e3b39803fp-56;

constexpr double FastActivationLimit = 32;

// The rounding interval's half-width in units of 2^E where 2^E <= y < 2^(E+1): half a unit
// in the last place, a quarter below a power of two. And the margin, relative to y (see
// below): 2^-60.5 >= 2^-60.6 (1 + 2^-52).
constexpr double HalfUlp = 0x1p-53;
constexpr double QuarterUlp = 0x1p-54;
constexpr double RelativeMargin = 0x1.6a09e667f3bcdp-61;  // 2^-60.5, rounded up

struct TDoubleDouble {
  __m256d Hi, Lo;
};

// s + e = a + b exactly, for any a and b.
inline TDoubleDouble TwoSum(__m256d a, __m256d b) {
  const __m256d s = _mm256_add_pd(a, b);
  const __m256d bb = _mm256_sub_pd(s, a);
  const __m256d e = _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(s, bb)), _mm256_sub_pd(b, bb));
  return {s, e};
}

// The same when |a| >= |b|.
inline TDoubleDouble FastTwoSum(__m256d a, __m256d b) {
  const __m256d s = _mm256_add_pd(a, b);
  return {s, _mm256_sub_pd(b, _mm256_sub_pd(s, a))};
}

inline __m256d Add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
inline __m256d Sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
inline __m256d Mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
inline __m256d Set(double v) { return _mm256_set1_pd(v); }
// a * b - p, exact when p is the rounded a * b: the one use of fused multiply-add here.
inline __m256d ProductError(__m256d a, __m256d b, __m256d p) { return _mm256_fmsub_pd(a, b, p); }

// Four lanes of 1 / (1 + 2.7183L^-a) in double-double arithmetic. Returns the lanes whose
// double is proven (as a 4-bit mask) and stores those lanes' results.
//
// The definition's value is round53(round64(1 / round64(1 + powl))). Its powl is within
// 4 units in its last place (2^-61 relative) of the exact power, so before the final rounding
// it lies within 2^-61 + 2 * 2^-64 = 1.25 * 2^-61 of the exact y = 1 / (1 + 2.7183L^-a),
// relative. The double-double y below is within 2^-78 of the exact one (the terms dropped
// are the largest errors: degree 7 of e^w - 1, about 2^-79, and the rounding of its lower
// terms), so every candidate lies within 2^-60.6 y of it. If that whole interval rounds to
// one double, the definition's value rounds to it too; the interval never reaches a
// midpoint, so ties cannot arise.
inline int Sigmoid4(const double* activations, double* results) {
  const __m256d a = _mm256_loadu_pd(activations);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  // NaN compares false: those lanes, and all beyond the fast range, are left undecided.
  const __m256d inRange = _mm256_cmp_pd(_mm256_and_pd(a, absMask), Set(FastActivationLimit), _CMP_LE_OQ);
  const __m256d x = _mm256_and_pd(Sub(_mm256_setzero_pd(), a), inRange);

  // t = x log2(2.7183L) = tHi + tLo, then j = round(256 tHi) and r = t - j / 256. tHi - j/256
  // is exact: both are multiples of the unit in the last place of tHi (|tHi| < 64), and the
  // difference is at most 2^-9.
  const __m256d tHi = Mul(x, Set(Log2BaseHi));
  const __m256d tLo = Add(ProductError(x, Set(Log2BaseHi), tHi), Mul(x, Set(Log2BaseLo)));
  const __m256d j = _mm256_round_pd(Mul(tHi, Set(256)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  const TDoubleDouble r = TwoSum(Sub(tHi, Mul(j, Set(1.0 / 256))), tLo);

  // w = r ln 2, |w| < 2^-9.5, and q = e^w - 1 = w + w^2/2 + (terms of degree 3..6).
  const __m256d wHi = Mul(r.Hi, Set(Ln2Hi));
  const __m256d wLo = Add(ProductError(r.Hi, Set(Ln2Hi), wHi), Add(Mul(r.Hi, Set(Ln2Lo)), Mul(r.Lo, Set(Ln2Hi))));
  const __m256d square = Mul(wHi, wHi);
  const __m256d squareError = ProductError(wHi, wHi, square);
  const __m256d higher =
      Mul(Mul(square, wHi),
          Add(Set(1.0 / 6), Mul(wHi, Add(Set(1.0 / 24), Mul(wHi, Add(Set(1.0 / 120), Mul(wHi, Set(1.0 / 720))))))));
  const TDoubleDouble qHead = FastTwoSum(wHi, Mul(square, Set(0.5)));
  const __m256d qLo =
      Add(qHead.Lo, Add(wLo, Add(Mul(squareError, Set(0.5)), Add(Mul(wHi, wLo), higher))));

  // The mantissa 2^((j & 255)/256) (1 + q), then the exact scaling by 2^(j >> 8).
  const __m128i jInt = _mm256_cvtpd_epi32(j);
  const __m128i index = _mm_slli_epi32(_mm_and_si128(jInt, _mm_set1_epi32(255)), 1);
  const double* table = &Exp2Table[0].Hi;
  // The masked form with a defined source: the plain one leaves GCC warning about it.
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  const __m256d entryHi = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, index, all, 8);
  const __m256d entryLo = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table + 1, index, all, 8);
  const __m256d product = Mul(entryHi, qHead.Hi);
  const TDoubleDouble head = FastTwoSum(entryHi, product);
  // qLo carries the terms of degree 3 and up (about 2^-31), so the sum is normalised again:
  // the reciprocal below needs |low part| within a unit in the last place of the high one.
  const TDoubleDouble mantissa = FastTwoSum(
      head.Hi, Add(head.Lo, Add(ProductError(entryHi, qHead.Hi, product),
                                Add(entryLo, Add(Mul(entryLo, qHead.Hi), Mul(entryHi, qLo))))));
  const __m256i exponent = _mm256_cvtepi32_epi64(_mm_srai_epi32(jInt, 8));
  const __m256d scale =
      _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_add_epi64(exponent, _mm256_set1_epi64x(1023)), 52));
  const __m256d powerHi = Mul(mantissa.Hi, scale);
  const __m256d powerLo = Mul(mantissa.Lo, scale);

  // u = 1 + power, then y = 1 / u: 1/uHi rounded, and 1 - (1/uHi) uHi exact.
  const TDoubleDouble u = TwoSum(Set(1), powerHi);
  const __m256d uLo = Add(u.Lo, powerLo);
  const __m256d reciprocal = _mm256_div_pd(Set(1), u.Hi);
  const __m256d residual = Sub(_mm256_fnmadd_pd(reciprocal, u.Hi, Set(1)), Mul(reciprocal, uLo));
  // Normalised, so that yHi is the double nearest yHi + yLo.
  const TDoubleDouble y = FastTwoSum(reciprocal, Mul(reciprocal, residual));
  const __m256d yHi = y.Hi;
  const __m256d yLo = y.Lo;

  // yHi is the answer when yLo and the margin stay inside its rounding interval.
  const __m256i bits = _mm256_castpd_si256(yHi);
  const __m256d binade = _mm256_castsi256_pd(_mm256_and_si256(bits, _mm256_set1_epi64x(0x7FF0000000000000)));
  const __m256d powerOfTwo = _mm256_castsi256_pd(
      _mm256_cmpeq_epi64(_mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFF)), _mm256_setzero_si256()));
  const __m256d below = _mm256_cmp_pd(yLo, _mm256_setzero_pd(), _CMP_LT_OQ);
  const __m256d halfWidth =
      Mul(binade, _mm256_blendv_pd(Set(HalfUlp), Set(QuarterUlp), _mm256_and_pd(powerOfTwo, below)));
  const __m256d reach = Add(_mm256_and_pd(yLo, absMask), Mul(yHi, Set(RelativeMargin)));
  const __m256d inside = _mm256_cmp_pd(reach, halfWidth, _CMP_LT_OQ);
  const int decided = _mm256_movemask_pd(_mm256_and_pd(inside, inRange));
  _mm256_maskstore_pd(results, _mm256_castpd_si256(_mm256_and_pd(inside, inRange)), yHi);
  return decided;
}

}  // namespace

int32_t SigmoidBatchAvx2(const double* activations, double* results, int32_t count, int32_t* undecided) {
  int32_t left = 0;
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int decided = Sigmoid4(activations + i, results + i);
    if (decided != 0xF)
      for (int lane = 0; lane < 4; ++lane)
        if (!(decided >> lane & 1)) undecided[left++] = i + lane;
  }
  if (i < count) {
    // The last few through a padded copy; the padding's lanes are ignored.
    alignas(32) double in[4] = {0, 0, 0, 0};
    alignas(32) double out[4];
    for (int32_t k = i; k < count; ++k) in[k - i] = activations[k];
    const int decided = Sigmoid4(in, out);
    for (int32_t k = i; k < count; ++k) {
      if (decided >> (k - i) & 1)
        results[k] = out[k - i];
      else
        undecided[left++] = k;
    }
  }
  return left;
}

}  // namespace zemlix
