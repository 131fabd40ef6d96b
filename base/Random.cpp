#include "base/Random.h"

#include <chrono>

namespace zemlix {
namespace {

// Step k + 1 from any seed at once: a^(k+1) and the sum of a^0 .. a^k, mod 2^32.
struct TJumps {
  std::array<uint32_t, 64> Factor, Term;
};
constexpr TJumps MakeJumps() {
  TJumps jumps{};
  uint32_t factor = 1, term = 0;
  for (size_t k = 0; k < jumps.Factor.size(); ++k) {
    term = term * TRandomGenerator::Multiplier + TRandomGenerator::Increment;
    factor *= TRandomGenerator::Multiplier;
    jumps.Factor[k] = factor;
    jumps.Term[k] = term;
  }
  return jumps;
}
constexpr TJumps Jumps = MakeJumps();

}  // namespace

void TDrawsAhead::Refill(uint32_t from) {
  static_assert(Batch == Jumps.Factor.size());
  seeds_[0] = from;
  for (int32_t k = 0; k < Batch; ++k) seeds_[k + 1] = Jumps.Factor[k] * from + Jumps.Term[k];
  next_ = 0;
}

int64_t SeedsAtMost(double probability) {
  if (!(probability >= 0)) return -1;          // below 0, or NaN: no draw (each is 0 or more)
  const double scaled = probability * 0x1p32;  // exact: a power of two
  return scaled >= 0xFFFFFFFFp0 ? 0xFFFFFFFF : static_cast<int64_t>(scaled);
}

uint32_t SeedFromClock(std::chrono::system_clock::time_point now) {
  using namespace std::chrono;
  const auto sinceMidnight = now - floor<days>(now);  // the system clock counts UTC
  return static_cast<uint32_t>(duration_cast<milliseconds>(sinceMidnight).count());
}

}  // namespace zemlix
