#pragma once

#include <cstdint>

namespace zemlix {

// The AVX-512 kernel of SigmoidBatch, eight activations at a time through the same
// double-double evaluation as the AVX2 one, operation for operation, so both decide the same
// values and store the same bits. Call only where the processor has AVX-512 F, DQ and VL.
// The same contract as SigmoidBatchAvx2.
int32_t SigmoidBatchAvx512(const double* activations, double* results, int32_t count, int32_t* undecided);

}  // namespace zemlix
