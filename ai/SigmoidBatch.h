#pragma once

#include <cstdint>

namespace zemlix {

// results[i] = Sigmoid(activations[i], 1.0) for i < count, bit for bit. Where the processor
// has AVX2 and FMA, four activations at a time go through a double-double evaluation that
// proves nearly every result; the rest take Sigmoid's own path. The arrays may not overlap.
void SigmoidBatch(const double* activations, double* results, int32_t count);

// Which kernel SigmoidBatch uses: chosen once from the processor, unless a test forces the
// portable one (plain Sigmoid calls) to check both on one machine.
enum class TSigmoidBatchKernel { Avx2, Portable };
TSigmoidBatchKernel SigmoidBatchKernel();
void ForcePortableSigmoidBatch(bool force);

}  // namespace zemlix
