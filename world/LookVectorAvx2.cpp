// The batched look vector's AVX2 kernel. Like the batched Sigmoid's, the only file here built
// with -mavx2 -mfma: its helpers stay in the anonymous namespace and nothing from a header is
// instantiated, so no AVX2 copy of an inline function can reach other files at link time.
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx2.inc"
#include "base/DoubleDoubleLanes.inc"
#include "world/LookVectorLanes.inc"

}  // namespace

void LookVectorBatchAvx2(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided) {
  LookVectorBatchInLanes(headings, lookX, lookY, count, decided);
}

}  // namespace zemlix
