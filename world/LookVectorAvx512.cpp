// The batched look vector's AVX-512 kernel: the AVX2 kernel's body on eight lanes. Built alone
// with the AVX-512 flags, like LookVectorAvx2.cpp.
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx512.inc"
#include "base/DoubleDoubleLanes.inc"
#include "world/LookVectorLanes.inc"

}  // namespace

void LookVectorBatchAvx512(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided) {
  LookVectorBatchInLanes(headings, lookX, lookY, count, decided);
}

}  // namespace zemlix
