// The batched Sigmoid against the plain definition, bit for bit, through each kernel this
// machine can run: a different processor or C library must not slip through unnoticed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "ai/Sigmoid.h"
#include "ai/SigmoidBatch.h"
#include "ai/SigmoidBatchAvx2.h"

#include "tests/support/Bits.h"

namespace zemlix {
namespace {

using testing::Bits;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
constexpr int64_t RealisticCount = 1000000;  // the sanitizers' runs are ten times slower
#else
constexpr int64_t RealisticCount = 10000000;
#endif

// Activations as the networks make them: mostly |a| < 10, some out to the fast range's edge
// and beyond, some tiny.
std::vector<double> RealisticActivations() {
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> network(-10, 10), wide(-34, 34), exponent(-60, 0);
  std::vector<double> activations(RealisticCount);
  for (int64_t i = 0; i < RealisticCount; ++i) {
    const int64_t kind = i % 20;
    activations[i] = kind == 0   ? wide(random)
                     : kind == 1 ? std::copysign(std::exp2(exponent(random)), network(random))
                                 : network(random);
  }
  return activations;
}

// Powers of two down to the subnormals, their neighbours, every integer and half-integer and
// their neighbours, the fast range's edge, and on to infinity and NaN.
std::vector<double> EdgeActivations() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> edges = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
  for (int k = -1074; k <= 1023; ++k)
    for (double sign : {1.0, -1.0}) {
      const double a = sign * std::ldexp(1.0, k);
      edges.insert(edges.end(), {a, std::nextafter(a, inf), std::nextafter(a, -inf)});
    }
  for (int n = -800; n <= 800; ++n) {
    const double a = n / 16.0;
    edges.insert(edges.end(), {a, std::nextafter(a, inf), std::nextafter(a, -inf)});
  }
  for (double edge : {32.0, -32.0, 11356.0, -11356.0, 11357.0, -11357.0}) {
    double above = edge, below = edge;
    for (int i = 0; i < 64; ++i) {
      edges.insert(edges.end(), {above, below});
      above = std::nextafter(above, inf);
      below = std::nextafter(below, -inf);
    }
  }
  return edges;
}

// Batches of odd sizes, so the kernel's padded tail runs too. Returns the mismatches.
int64_t Mismatches(const std::vector<double>& activations, const std::vector<double>& plain, const char* kernel) {
  std::vector<double> results(activations.size(), -1.0);
  for (size_t start = 0; start < activations.size(); start += 1201) {
    const size_t count = std::min<size_t>(1201, activations.size() - start);
    SigmoidBatch(activations.data() + start, results.data() + start, static_cast<int32_t>(count));
  }
  int64_t mismatches = 0;
  for (size_t i = 0; i < activations.size(); ++i) {
    const bool same = std::isnan(plain[i]) ? std::isnan(results[i]) : Bits(results[i]) == Bits(plain[i]);
    if (!same && ++mismatches < 10)
      ADD_FAILURE() << kernel << std::hexfloat << ": activation " << activations[i] << " gives " << results[i]
                    << " instead of " << plain[i];
  }
  return mismatches;
}

// The definition is evaluated once (it is the slow part) and each kernel compared with it.
TEST(SigmoidBatchExactness, EveryKernelMatchesTheDefinition) {
  std::vector<double> activations = RealisticActivations();
  const std::vector<double> edges = EdgeActivations();
  activations.insert(activations.end(), edges.begin(), edges.end());
  std::vector<double> plain(activations.size());
  for (size_t i = 0; i < activations.size(); ++i) plain[i] = SigmoidReference(activations[i], 1.0);

  if (AvailableBatchKernels().size() == 1)
    std::printf("[   INFO   ] no AVX2 and FMA here: only the portable kernel is checked\n");
  for (TBatchKernel kernel : AvailableBatchKernels()) {
    ForceBatchKernel(kernel);
    EXPECT_EQ(BatchKernel(), kernel);
    EXPECT_EQ(Mismatches(activations, plain, BatchKernelName(kernel)), 0);
  }
  ForcePortableBatches(false);
}

// The double-double kernel must decide nearly every activation itself: its margin of
// 2^-60.5 relative leaves about 0.9 %; far more would mean a margin or an evaluation gone
// wrong, costing the speed it exists for.
TEST(SigmoidBatchKernel, DecidesNearlyEveryActivation) {
  if (AvailableBatchKernels().size() < 2) GTEST_SKIP() << "this processor has no AVX2 and FMA";
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> network(-10, 10);
  std::vector<double> activations(100003), results(activations.size());
  for (double& a : activations) a = network(random);
  std::vector<int32_t> undecided(activations.size());
  const int32_t left = SigmoidBatchAvx2(activations.data(), results.data(), static_cast<int32_t>(activations.size()),
                                        undecided.data());
  EXPECT_LT(left, static_cast<int32_t>(activations.size() / 40));
  for (int32_t k = 1; k < left; ++k) ASSERT_LT(undecided[k - 1], undecided[k]);
  std::printf("[   INFO   ] %d of %zu left to the x87 bracket\n", left, activations.size());
}

}  // namespace
}  // namespace zemlix
