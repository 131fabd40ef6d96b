#pragma once

#include <cstdint>

namespace zemlix {

// The AVX2 kernel of SigmoidBatch; call only where the processor has AVX2 and FMA.
// Stores every result it proves and lists the indices of the others, in increasing order,
// in `undecided` (room for `count`); returns their number. Activations beyond |32| and
// NaN are always undecided.
int32_t SigmoidBatchAvx2(const double* activations, double* results, int32_t count, int32_t* undecided);

}  // namespace zemlix
