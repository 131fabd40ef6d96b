#pragma once

#include <cstdint>
#include <vector>

namespace zemlix {

// results[i] = Sigmoid(activations[i], 1.0) for i < count, bit for bit. Where the processor
// has AVX-512 (eight at a time) or AVX2 and FMA (four), the activations go through a
// double-double evaluation that proves nearly every result; the rest take Sigmoid's own
// path. The arrays may not overlap.
void SigmoidBatch(const double* activations, double* results, int32_t count);

// Which kernels SigmoidBatch and LookVectorBatch use: the fastest this processor runs, chosen
// once (AVX-512 needs F, DQ and VL; AVX2 needs FMA too), unless a test or the environment
// variable ZEMLIX_BATCH_KERNEL (avx512, avx2 or portable, read once) asks for another. A
// kernel the processor cannot run is never used: asking for it gives the next one down.
// The portable kernels are the plain Sigmoid and LookVector calls. Every kernel gives the
// same bits; they differ only in speed.
enum class TBatchKernel { Avx512, Avx2, Portable };
TBatchKernel BatchKernel();
// Those this processor runs, fastest first; Portable always last.
std::vector<TBatchKernel> AvailableBatchKernels();
const char* BatchKernelName(TBatchKernel kernel);
// Uses `kernel` (or the next one down the processor runs) from now on.
void ForceBatchKernel(TBatchKernel kernel);
// Back to the processor's own choice (or the environment's).
void ReleaseBatchKernel();
// ForceBatchKernel(Portable) when true, ReleaseBatchKernel when false.
void ForcePortableBatches(bool force);

}  // namespace zemlix
