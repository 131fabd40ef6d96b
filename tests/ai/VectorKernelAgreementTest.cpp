// The AVX-512 and AVX2 kernels make the same operations on wider vectors: over a sweep they
// must leave the same values open and write the same bits, or one of them slipped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "ai/SigmoidBatch.h"
#include "ai/SigmoidBatchAvx2.h"
#include "ai/SigmoidBatchAvx512.h"
#include "tests/support/Bits.h"
#include "world/AdvancedMathUnit.h"
#include "world/LookVectorFast.h"

namespace zemlix {
namespace {

using testing::Bits;

bool HasAvx512() { return AvailableBatchKernels().front() == TBatchKernel::Avx512; }

// Random values of `range`, then every multiple of `step` within it and its neighbours.
std::vector<double> Sweep(double range, double step, int32_t randomCount, uint64_t seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> values(-range, range);
  std::vector<double> sweep;
  for (int32_t i = 0; i < randomCount; ++i) sweep.push_back(values(random));
  for (double v = -range; v <= range; v += step)
    sweep.insert(sweep.end(), {v, std::nextafter(v, 1e9), std::nextafter(v, -1e9)});
  sweep.insert(sweep.end(), {NAN, INFINITY, -INFINITY, 0.0, -0.0});
  return sweep;
}

TEST(VectorKernelAgreement, SigmoidKernelsDecideTheSameActivations) {
  if (!HasAvx512()) GTEST_SKIP() << "this processor has no AVX-512";
  const std::vector<double> activations = Sweep(34, 1.0 / 64, 2000003, 7);
  const auto count = static_cast<int32_t>(activations.size());
  std::vector<double> narrow(count, -1.0), wide(count, -1.0);
  std::vector<int32_t> narrowOpen(count), wideOpen(count);
  const int32_t narrowLeft = SigmoidBatchAvx2(activations.data(), narrow.data(), count, narrowOpen.data());
  const int32_t wideLeft = SigmoidBatchAvx512(activations.data(), wide.data(), count, wideOpen.data());
  ASSERT_EQ(narrowLeft, wideLeft);
  narrowOpen.resize(narrowLeft);
  wideOpen.resize(wideLeft);
  EXPECT_EQ(narrowOpen, wideOpen);
  int64_t differences = 0;
  for (int32_t i = 0; i < count; ++i)
    if (Bits(narrow[i]) != Bits(wide[i]) && ++differences < 10)
      ADD_FAILURE() << std::hexfloat << "activation " << activations[i] << ": " << narrow[i] << " and " << wide[i];
}

// Both kernels, and whether the x87 stage that LookVectorBatch skips for a value left open
// at or above LookVectorX87Useful would ever have decided it.
TEST(VectorKernelAgreement, LookKernelsDecideTheSameHeadings) {
  if (AvailableBatchKernels().size() < 2) GTEST_SKIP() << "this processor has no AVX2 and FMA";
  std::vector<double> headings = Sweep(7.5, 1.0 / 64, 2000003, 9);
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> near(-1, 1);
  for (int k = -4; k <= 4; ++k)  // around the zeros of sine and cosine
    for (int i = 0; i < 20000; ++i)
      headings.push_back(static_cast<double>(k * (Pi2 / 4)) + near(random) * std::ldexp(1.0, -static_cast<int>(random() % 40)));
  const auto count = static_cast<int32_t>(headings.size());
  std::vector<double> x(count), y(count);
  std::vector<uint8_t> decided(count);
  LookVectorBatchAvx2(headings.data(), x.data(), y.data(), count, decided.data());
  if (HasAvx512()) {
    std::vector<double> wideX(count), wideY(count);
    std::vector<uint8_t> wideDecided(count);
    LookVectorBatchAvx512(headings.data(), wideX.data(), wideY.data(), count, wideDecided.data());
    int64_t differences = 0;
    for (int32_t i = 0; i < count; ++i)
      if ((decided[i] != wideDecided[i] || Bits(x[i]) != Bits(wideX[i]) || Bits(y[i]) != Bits(wideY[i])) &&
          ++differences < 10)
        ADD_FAILURE() << std::hexfloat << "heading " << headings[i] << ": " << x[i] << ", " << y[i] << " ("
                      << int{decided[i]} << ") and " << wideX[i] << ", " << wideY[i] << " (" << int{wideDecided[i]} << ")";
  }
  int64_t skippedButDecidable = 0, open = 0;
  for (int32_t i = 0; i < count; ++i) {
    double fastX, fastY;
    const int fast = LookVectorFastParts(headings[i], fastX, fastY);
    for (const auto& [part, estimate] : {std::pair{LookXDecided, x[i]}, std::pair{LookYDecided, y[i]}}) {
      if (decided[i] & part) continue;
      ++open;
      if (std::fabs(estimate) >= LookVectorX87Useful && (fast & part) && ++skippedButDecidable < 10)
        ADD_FAILURE() << std::hexfloat << "heading " << headings[i] << ": the x87 stage decides a value of " << estimate;
    }
  }
  EXPECT_GT(open, 0);  // the sweep reaches the fallbacks at all
}

}  // namespace
}  // namespace zemlix
