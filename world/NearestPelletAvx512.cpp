// The nearest-pellet kernel built for AVX-512; called only where the processor has it.
#include <immintrin.h>

#include <cstdint>

namespace zemlix {
namespace {

#include "base/LanesAvx512.inc"
// Two vectors of eight bugs.
constexpr int32_t Vectors = 2;
#include "world/NearestPelletLanes.inc"

}  // namespace

void NearestPelletsAvx512(const double* bugX, const double* bugY, int32_t count, const double* foodX,
                          const double* foodY, const double* foodIndex, int32_t foodCount, int32_t* nearest,
                          double* leastSquare, double* secondSquare) {
  NearestPelletsInLanes(bugX, bugY, count, foodX, foodY, foodIndex, foodCount, nearest, leastSquare, secondSquare);
}

}  // namespace zemlix
