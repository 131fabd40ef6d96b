// Looks for the inputs that come closest to fooling each fast path's margin: those where the
// C library's extended value rounds to another double than the exact value (113-bit
// arithmetic), or than the x87 fast path's own value. Prints, per margin, the largest need
// found (the margin must stay above it) and the inputs behind it: the hardest ones are kept
// in tests/ai/KernelMarginTest.cpp.
//   zemlix_marginsearch [candidates, default 10000000] [seed, default 1]
#include <quadmath.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "ai/SigmoidFast.h"
#include "world/LookVectorFast.h"

namespace {

// The low 11 bits of a long double's significand: 0x400 is a double's rounding midpoint.
int LowBits(long double y) {
  uint64_t significand;
  std::memcpy(&significand, &y, sizeof significand);
  return static_cast<int>(significand & 0x7FF);
}

// How far `exact` lies from the edge of its double's rounding interval, relative to it: an
// evaluation within that of it proves the double.
double RoomToTheEdge(__float128 exact) {
  const double rounded = static_cast<double>(exact);
  const double next = exact > rounded ? std::nextafter(rounded, INFINITY) : std::nextafter(rounded, -INFINITY);
  const __float128 edge = (static_cast<__float128>(rounded) + next) / 2;
  return static_cast<double>(fabsq(edge - exact) / fabsq(exact));
}

// The largest few needs, with their inputs.
struct TTop {
  std::vector<std::pair<double, double>> Entries;  // need, input
  void Note(double need, double input) {
    Entries.emplace_back(need, input);
    std::sort(Entries.begin(), Entries.end(), [](auto& a, auto& b) { return a.first > b.first; });
    if (Entries.size() > 4) Entries.pop_back();
  }
  void Print(const char* what, bool log2) const {
    for (const auto& [need, input] : Entries)
      std::printf("    %s %a: %s%.3f\n", what, input, log2 ? "2^" : "", log2 ? std::log2(need) : need);
  }
};

const __float128 Base = static_cast<__float128>(2.7183L);

}  // namespace

int main(int argc, char** argv) {
  const long candidates = argc > 1 ? std::atol(argv[1]) : 10000000;
  std::mt19937_64 random(argc > 2 ? std::atol(argv[2]) : 1);
  std::uniform_real_distribution<double> activations(-32, 32), unit(0, 1), headings(-7, 7);

  std::map<int, long> differences;  // definition minus x87 fast value, in units of the latter
  TTop bracket, sigmoidAvx2, sinAvx2, cosAvx2;
  for (long i = 0; i < candidates; ++i) {
    // Half at random, half where 1 + p lies just above a power of two 2^k: there y's unit in
    // the last place is largest against u's, and the roundings weigh most.
    double a = activations(random);
    if (i % 2) {
      const int k = 1 + static_cast<int>(random() % 46);
      a = -(std::log(std::ldexp(1.0, k) - 1) + 0.08 * unit(random)) / std::log(2.7183);
    }
    const long double definition = 1.0L / (1.0L + std::pow(2.7183L, -static_cast<long double>(a)));
    const long double fast = 1.0L / (1.0L + zemlix::PowerOfBase(-a));
    ++differences[static_cast<int>(std::lrint(static_cast<double>(
        (definition - fast) / std::ldexp(1.0L, std::ilogb(fast) - 63))))];
    if (static_cast<double>(fast) != static_cast<double>(definition))
      bracket.Note(std::abs(LowBits(fast) - 0x400), a);
    if (std::abs(LowBits(definition) - 0x400) <= 8) {
      const __float128 exact = 1 / (1 + powq(Base, -static_cast<__float128>(a)));
      if (static_cast<double>(exact) != static_cast<double>(definition)) sigmoidAvx2.Note(RoomToTheEdge(exact), a);
    }
  }

  double lookSlack = -INFINITY, lookSlackAt = 0;
  for (long i = 0; i < candidates; ++i) {
    const double h = headings(random);
    const zemlix::TSineCosine fast = zemlix::FastSineCosine(h);
    const long double library[2] = {std::sin(static_cast<long double>(h)), std::cos(static_cast<long double>(h))};
    for (int k = 0; k < 2; ++k) {
      const long double value = k ? fast.Cos : fast.Sin, bound = k ? fast.CosError : fast.SinError;
      const double need = static_cast<double>((std::fabs(value - library[k]) - bound) / std::fabs(value));
      if (need > lookSlack) lookSlack = need, lookSlackAt = h;
      if (std::abs(LowBits(library[k]) - 0x400) > 8) continue;
      const __float128 exact = k ? cosq(h) : sinq(h);
      if (static_cast<double>(exact) == static_cast<double>(library[k])) continue;
      // The AVX2 kernel's margin has an absolute part of 2^-72 besides the relative one.
      const __float128 room = RoomToTheEdge(exact) * fabsq(exact) - static_cast<__float128>(0x1p-72);
      (k ? cosAvx2 : sinAvx2).Note(static_cast<double>(room / fabsq(exact)), h);
    }
  }

  std::printf("%ld activations, %ld headings\n", candidates, candidates);
  std::printf("Sigmoid: definition minus the x87 fast value, in units of its last place (count):\n   ");
  for (const auto& [units, count] : differences) std::printf(" %d (%ld)", units, count);
  std::printf("\n  x87 bracket (margin 16 units): distance in units from the midpoint of fast values whose "
              "double is not the definition's\n");
  bracket.Print("activation", false);
  std::printf("  AVX2 (margin 2^-60.5): room to the rounding edge where the definition's double is not the "
              "exact value's\n");
  sigmoidAvx2.Print("activation", true);
  std::printf("LookVector x87: largest (|fast - C library| - own bound) / |value|, the library bound "
              "(2^-60.83) must exceed it: %g at heading %a\n",
              lookSlack, lookSlackAt);
  std::printf("LookVector AVX2 (margin 2^-60.9 + 2^-72 absolute): room to the rounding edge where the C "
              "library's double is not the exact value's\n");
  sinAvx2.Print("sin, heading", true);
  cosAvx2.Print("cos, heading", true);
  return 0;
}
