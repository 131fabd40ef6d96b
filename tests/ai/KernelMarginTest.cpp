// Inputs next to the batched kernels' margins, the nearest found among 10^9 activations
// and 3 10^8 headings (bench/MarginSearch.cpp): where the C library's extended value rounds
// to another double than the exact value (the AVX2 kernels' case) or than the x87 path's own
// value (the portable one's). Every kernel must leave them to the definition; one whose
// margin shrank below their distance from the rounding edge would return another double
// here. The x87 paths keep far more room than any input found needs (16 units where 2 are
// reached, a library bound where none is needed), so only a much narrower one of theirs shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ai/Sigmoid.h"
#include "ai/SigmoidBatch.h"
#include "tests/support/Bits.h"
#include "world/Creature.h"
#include "world/LookVectorFast.h"

namespace zemlix {
namespace {

using testing::Bits;

TEST(KernelMargin, SigmoidsNextToTheMarginMatchTheDefinition) {
  const std::vector<double> activations = {
      // The AVX2 kernel's: 2^-63.04, 2^-63.07 and 2^-63.10 from the edge (its margin: 2^-60.5).
      -0x1.b93557d9cf33ap-5, -0x1.a41f8446c857cp-7, -0x1.266bfd8839518p+4,
      // The x87 path's: 2 units from the midpoint (its margin: 16).
      -0x1.d2a20454ef047p+4, -0x1.0b4b44078f2aap+4,
  };
  for (const TBatchKernel kernel : AvailableBatchKernels()) {
    ForceBatchKernel(kernel);
    std::vector<double> results(activations.size());
    SigmoidBatch(activations.data(), results.data(), static_cast<int32_t>(activations.size()));
    for (size_t i = 0; i < activations.size(); ++i)
      EXPECT_EQ(Bits(results[i]), Bits(SigmoidReference(activations[i], 1.0)))
          << BatchKernelName(kernel) << std::hexfloat << ": activation " << activations[i];
  }
  ReleaseBatchKernel();
}

TEST(KernelMargin, LookVectorsNextToTheMarginMatchTheDefinition) {
  const std::vector<double> headings = {
      // -sin h and cos h, 2^-63.23 to 2^-63.15 from the edge (the AVX2 kernel's margin: 2^-60.9).
      0x1.9a716ff927934p+2, -0x1.89e09cf112e05p+2, 0x1.35a505551621cp+2, 0x1.35e30726943dep+2,
  };
  for (const TBatchKernel kernel : AvailableBatchKernels()) {
    ForceBatchKernel(kernel);
    std::vector<double> x(headings.size()), y(headings.size());
    LookVectorBatch(headings.data(), x.data(), y.data(), static_cast<int32_t>(headings.size()));
    for (size_t i = 0; i < headings.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << BatchKernelName(kernel) << std::hexfloat << ": heading "
                                        << headings[i]);
      double plainX, plainY;
      LookVectorReference(headings[i], plainX, plainY);
      EXPECT_EQ(Bits(x[i]), Bits(plainX));
      EXPECT_EQ(Bits(y[i]), Bits(plainY));
    }
  }
  ReleaseBatchKernel();
}

}  // namespace
}  // namespace zemlix
