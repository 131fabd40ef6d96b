#pragma once

#include <cstdint>

namespace zemlix {

// The fast path of LookVector. Returns true and sets lookX, lookY to exactly what
// LookVectorReference gives when its error bound proves both doubles; returns false
// (outputs untouched) when it cannot decide either of them or |heading| > 7.
bool LookVectorFast(double heading, double& lookX, double& lookY);

// The same for each value on its own: sets those of lookX and lookY that it proves and
// returns which (LookXDecided | LookYDecided when both), leaving the others untouched.
constexpr int LookXDecided = 1;
constexpr int LookYDecided = 2;
int LookVectorFastParts(double heading, double& lookX, double& lookY);

// LookVector for each of `count` headings, bit for bit: where the processor has AVX-512 or
// AVX2 and FMA (see BatchKernel), eight or four at a time through a double-double evaluation
// that proves nearly every value; the rest take LookVector's own path, each value on its
// own, or straight the C library's where that path could not decide either. The arrays may
// not overlap.
void LookVectorBatch(const double* headings, double* lookX, double* lookY, int32_t count);

// The vector kernels; call each only where the processor has its instructions. They write
// every value: the definition's where proven, elsewhere the double nearest their own
// estimate (within |7|), and for each heading which they proved
// (LookXDecided | LookYDecided when both). Headings beyond |7| and NaN are never decided.
// Both kernels make the same operations, so they write the same bits.
void LookVectorBatchAvx2(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided);
void LookVectorBatchAvx512(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided);

// Below this magnitude of a value left open by the vector kernels the x87 path may still
// decide it; at or above it never: the kernels' interval (2^-74 from the exact value plus a
// margin of 2^-72 + 0x1.1p-61 |v|) then lies inside the x87 path's (which reaches at least
// 0x1.2p-61 |v| from the exact value each way), so whenever a kernel's interval crosses a
// rounding boundary, so does the x87 one. Sending those straight to the C library saves the
// x87 stage and changes no result (the library's value is the definition).
constexpr double LookVectorX87Useful = 0x1p-4;

// sin and cos of a heading with |heading| <= 7 in extended precision, each with a bound on
// its own distance from the exact value (the C library's error not included).
struct TSineCosine {
  long double Sin, Cos;
  long double SinError, CosError;
};
TSineCosine FastSineCosine(double heading);

}  // namespace zemlix
