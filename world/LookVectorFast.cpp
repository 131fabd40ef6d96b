#include "world/LookVectorFast.h"

#include <emmintrin.h>

#include <cmath>

namespace zemlix {
namespace {

struct TSinCosEntry {
  long double SinHi;
  double SinLo;
  long double CosHi;
  double CosLo;
};
const TSinCosEntry SinCosTable[113] = {
#include "world/SinCosTable.inc"
};

constexpr double FastHeadingLimit = 7;  // m = round(16 |heading|) stays within the table

// Own error of a value v = T + [...] below, with T the table's sin or cos of m/16: the last
// rounding, half a unit in the last place (at most 2^-64 |v|), and 2^-61 (|s| + |T|) for the
// products and sums inside the bracket, each below 2^-64 of |s| or 2^-10 |T|, and the
// truncated series.
constexpr long double RoundingBound = 0x1p-64L;
constexpr long double AbsoluteBound = 0x1p-61L;

// Added for the C library: against 113-bit arithmetic, sinl and cosl stay within 1.4 units in
// the last place (2^-63 |v| each) over 2e7 sampled headings and 1.8e6 more around the zeros
// of sine and cosine in the fast range (zemlix_mathcheck); 4 are allowed, plus half a unit
// for the rounding of v +- bound. (FastSineCosine stays within 0.27 of its own bound there.)
constexpr long double LibraryBound = 0x1.2p-61L;

// Whether every value in [v - bound, v + bound] rounds to the same double; if so, sets it.
bool RoundsUniquely(long double v, long double bound, double& rounded) {
  const double low = static_cast<double>(v - bound);
  const double high = static_cast<double>(v + bound);
  if (low != high) return false;
  rounded = static_cast<double>(v);
  return true;
}

}  // namespace

// With a = |heading| = m/16 + s, m = round(16 a), |s| <= 1/32 + 2^-40 and s exact in double
// (m/16 is a multiple of the unit in the last place of a):
//   sin a = S + (C s + (S (cos s - 1) + C (sin s - s) + Slo)),
//   cos a = C + (-S s + (C (cos s - 1) - S (sin s - s) + Clo)).
// cos s - 1 takes its leading term -s^2/2 in long double (2^-74) and the rest, below 2^-24,
// in double; sin s - s, below 2^-17.5, is evaluated in double to within 2^-51 of itself,
// i.e. 2^-63.6 |s|. The truncated terms are below 2^-71.
TSineCosine FastSineCosine(double heading) {
  const double a = std::fabs(heading);
  const int m = _mm_cvtsd_si32(_mm_set_sd(a * 16));
  const double s = a - m * 0.0625;
  const double s2 = s * s;
  const double s4 = s2 * s2;
  const long double sl = s;
  const long double cosMinusOne =
      -0.5L * (sl * sl) + s4 * ((1.0 / 24 + s2 * (-1.0 / 720)) + s4 * (1.0 / 40320));
  const double sinMinusS =
      s * s2 * ((-1.0 / 6 + s2 * (1.0 / 120)) + s4 * (-1.0 / 5040 + s2 * (1.0 / 362880)));
  const TSinCosEntry& e = SinCosTable[m];
  TSineCosine result;
  result.Sin = e.SinHi + (e.CosHi * sl + (e.SinHi * cosMinusOne + e.CosHi * sinMinusS + e.SinLo));
  result.Cos = e.CosHi + (-(e.SinHi * sl) + (e.CosHi * cosMinusOne - e.SinHi * sinMinusS + e.CosLo));
  if (std::signbit(heading)) result.Sin = -result.Sin;
  const long double magnitude = std::fabs(sl);
  result.SinError = std::fabs(result.Sin) * RoundingBound + (magnitude + std::fabs(e.SinHi)) * AbsoluteBound;
  result.CosError = std::fabs(result.Cos) * RoundingBound + (magnitude + std::fabs(e.CosHi)) * AbsoluteBound;
  return result;
}

int LookVectorFastParts(double heading, double& lookX, double& lookY) {
  if (!(std::fabs(heading) <= FastHeadingLimit)) return 0;
  const TSineCosine v = FastSineCosine(heading);
  double sinRounded, cosRounded;
  int decided = 0;
  if (RoundsUniquely(v.Sin, v.SinError + std::fabs(v.Sin) * LibraryBound, sinRounded)) {
    lookX = -sinRounded;
    decided |= LookXDecided;
  }
  if (RoundsUniquely(v.Cos, v.CosError + std::fabs(v.Cos) * LibraryBound, cosRounded)) {
    lookY = cosRounded;
    decided |= LookYDecided;
  }
  return decided;
}

bool LookVectorFast(double heading, double& lookX, double& lookY) {
  double x, y;
  if (LookVectorFastParts(heading, x, y) != (LookXDecided | LookYDecided)) return false;
  lookX = x;
  lookY = y;
  return true;
}

}  // namespace zemlix
