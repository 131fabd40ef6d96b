// The nearest-pellet kernel built for AVX2; called only where the processor has it.
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx2.inc"
// Four vectors of four bugs: sixteen bugs share a walk, as in the AVX-512 kernel.
constexpr int32_t Vectors = 4;
#include "world/NearestPelletLanes.inc"

}  // namespace

void NearestPelletsAvx2(const double* bugX, const double* bugY, int32_t count, const double* foodX, const double* foodY,
                        const double* foodIndex, int32_t foodCount, int32_t* nearest, double* leastSquare,
                        double* secondSquare) {
  NearestPelletsInLanes(bugX, bugY, count, foodX, foodY, foodIndex, foodCount, nearest, leastSquare, secondSquare);
}

}  // namespace zemlix
