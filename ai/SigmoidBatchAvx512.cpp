// The batched Sigmoid's AVX-512 kernel: SigmoidBatchAvx2.cpp on eight lanes. Built alone with
// the AVX-512 flags, for the same reason as that file (see its head); the comments on the
// evaluation and its bounds are there.
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

struct TExp2Entry {
  double Hi;
  double Lo;
};
alignas(64) const TExp2Entry Exp2Table[256] = {
#include "ai/Exp2Table.inc"
};

constexpr double Log2BaseHi = 0x1.71551820a3aacp+0;
constexpr double Log2BaseLo = 0x1.7fa538e299734p-54;
constexpr double Ln2Hi = 0x1.62e42fefa39efp-1;
constexpr double Ln2Lo = 0x1.abc9e3b39803fp-56;
constexpr double FastActivationLimit = 32;
constexpr double HalfUlp = 0x1p-53;
constexpr double QuarterUlp = 0x1p-54;
constexpr double RelativeMargin = 0x1.6a09e667f3bcdp-61;

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

inline TDoubleDouble FastTwoSum(__m512d a, __m512d b) {
  const __m512d s = Add(a, b);
  return {s, Sub(b, Sub(s, a))};
}

// Eight lanes; returns the proven ones as a mask and stores their results.
inline int Sigmoid8(const double* activations, double* results) {
  const __m512d a = _mm512_loadu_pd(activations);
  const __mmask8 inRange = _mm512_cmp_pd_mask(_mm512_abs_pd(a), Set(FastActivationLimit), _CMP_LE_OQ);
  const __m512d x = _mm512_maskz_sub_pd(inRange, _mm512_setzero_pd(), a);

  const __m512d tHi = Mul(x, Set(Log2BaseHi));
  const __m512d tLo = Add(ProductError(x, Set(Log2BaseHi), tHi), Mul(x, Set(Log2BaseLo)));
  const __m512d j = RoundToInteger(Mul(tHi, Set(256)));
  const TDoubleDouble r = TwoSum(Sub(tHi, Mul(j, Set(1.0 / 256))), tLo);

  const __m512d wHi = Mul(r.Hi, Set(Ln2Hi));
  const __m512d wLo = Add(ProductError(r.Hi, Set(Ln2Hi), wHi), Add(Mul(r.Hi, Set(Ln2Lo)), Mul(r.Lo, Set(Ln2Hi))));
  const __m512d square = Mul(wHi, wHi);
  const __m512d squareError = ProductError(wHi, wHi, square);
  const __m512d higher =
      Mul(Mul(square, wHi),
          Add(Set(1.0 / 6), Mul(wHi, Add(Set(1.0 / 24), Mul(wHi, Add(Set(1.0 / 120), Mul(wHi, Set(1.0 / 720))))))));
  const TDoubleDouble qHead = FastTwoSum(wHi, Mul(square, Set(0.5)));
  const __m512d qLo = Add(qHead.Lo, Add(wLo, Add(Mul(squareError, Set(0.5)), Add(Mul(wHi, wLo), higher))));

  const __m256i jInt = ToInt32(j);
  const __m256i index = _mm256_slli_epi32(_mm256_and_si256(jInt, _mm256_set1_epi32(255)), 1);
  const double* table = &Exp2Table[0].Hi;
  const __m512d entryHi = Gather(table, index);
  const __m512d entryLo = Gather(table + 1, index);
  const __m512d product = Mul(entryHi, qHead.Hi);
  const TDoubleDouble head = FastTwoSum(entryHi, product);
  const TDoubleDouble mantissa = FastTwoSum(
      head.Hi, Add(head.Lo, Add(ProductError(entryHi, qHead.Hi, product),
                                Add(entryLo, Add(Mul(entryLo, qHead.Hi), Mul(entryHi, qLo))))));
  const __m512i exponent = _mm512_mask_cvtepi32_epi64(_mm512_setzero_si512(), AllLanes, _mm256_srai_epi32(jInt, 8));
  const __m512d scale =
      _mm512_castsi512_pd(_mm512_mask_slli_epi64(_mm512_setzero_si512(), AllLanes, _mm512_add_epi64(exponent, _mm512_set1_epi64(1023)), 52));
  const __m512d powerHi = Mul(mantissa.Hi, scale);
  const __m512d powerLo = Mul(mantissa.Lo, scale);

  const TDoubleDouble u = TwoSum(Set(1), powerHi);
  const __m512d uLo = Add(u.Lo, powerLo);
  const __m512d reciprocal = _mm512_div_pd(Set(1), u.Hi);
  const __m512d residual = Sub(_mm512_fnmadd_pd(reciprocal, u.Hi, Set(1)), Mul(reciprocal, uLo));
  const TDoubleDouble y = FastTwoSum(reciprocal, Mul(reciprocal, residual));

  const __m512i bits = _mm512_castpd_si512(y.Hi);
  const __m512d binade = _mm512_castsi512_pd(_mm512_and_si512(bits, _mm512_set1_epi64(0x7FF0000000000000)));
  const __mmask8 powerOfTwo =
      _mm512_cmpeq_epi64_mask(_mm512_and_si512(bits, _mm512_set1_epi64(0x000FFFFFFFFFFFFF)), _mm512_setzero_si512());
  const __mmask8 below = _mm512_cmp_pd_mask(y.Lo, _mm512_setzero_pd(), _CMP_LT_OQ);
  const __m512d halfWidth = Mul(binade, _mm512_mask_blend_pd(powerOfTwo & below, Set(HalfUlp), Set(QuarterUlp)));
  const __m512d reach = Add(_mm512_abs_pd(y.Lo), Mul(y.Hi, Set(RelativeMargin)));
  const __mmask8 decided = _mm512_cmp_pd_mask(reach, halfWidth, _CMP_LT_OQ) & inRange;
  _mm512_mask_storeu_pd(results, decided, y.Hi);
  return decided;
}

}  // namespace

int32_t SigmoidBatchAvx512(const double* activations, double* results, int32_t count, int32_t* undecided) {
  int32_t left = 0;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const int decided = Sigmoid8(activations + i, results + i);
    if (decided != 0xFF)
      for (int lane = 0; lane < 8; ++lane)
        if (!(decided >> lane & 1)) undecided[left++] = i + lane;
  }
  if (i < count) {
    alignas(64) double in[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    alignas(64) double out[8];
    for (int32_t k = i; k < count; ++k) in[k - i] = activations[k];
    const int decided = Sigmoid8(in, out);
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
