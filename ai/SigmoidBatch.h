#pragma once

#include <cstdint>

namespace zemlix {

// results[i] = Sigmoid(activations[i], 1.0) for i < count, bit for bit. Where the processor
// has AVX2 and FMA, four activations at a time go through a double-double evaluation that
// proves nearly every result; the rest take Sigmoid's own path. The arrays may not overlap.
void SigmoidBatch(const double* activations, double* results, int32_t count);

// Which kernels SigmoidBatch and LookVectorBatch use: chosen once from the processor, unless
// a test forces the portable ones (plain Sigmoid and LookVector calls) to check both on one
// machine.
enum class TBatchKernel { Avx2, Portable };
TBatchKernel BatchKernel();
void ForcePortableBatches(bool force);

}  // namespace zemlix
