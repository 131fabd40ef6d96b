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

// LookVector for each of `count` headings, bit for bit: where the processor has AVX2 and
// FMA, four at a time through a double-double evaluation that proves nearly every value;
// the rest take LookVector's own path, each value on its own. The arrays may not overlap.
void LookVectorBatch(const double* headings, double* lookX, double* lookY, int32_t count);

// The AVX2 kernel; call only where the processor has AVX2 and FMA. Sets the values it
// proves and writes for each heading which (LookXDecided | LookYDecided when both).
// Headings beyond |7| and NaN are never decided.
void LookVectorBatchAvx2(const double* headings, double* lookX, double* lookY, int32_t count, uint8_t* decided);

// sin and cos of a heading with |heading| <= 7 in extended precision, each with a bound on
// its own distance from the exact value (the C library's error not included).
struct TSineCosine {
  long double Sin, Cos;
  long double SinError, CosError;
};
TSineCosine FastSineCosine(double heading);

}  // namespace zemlix
