#pragma once

#include <chrono>
#include <cstdint>

namespace zemlix {

// The program's single pseudo-random generator: a 32-bit linear congruential generator.
// One generator per world, seeded explicitly, so one seed always gives one run.
class TRandomGenerator {
 public:
  explicit TRandomGenerator(uint32_t seed = 0) : Seed(seed) {}

  // A real in [0, 1): the new state times 2^-32, which is exact in a double.
  double Random() {
    Seed = Seed * 134775813u + 1u;
    return static_cast<double>(Seed) * 0x1p-32;
  }

  uint32_t Seed;
};

// The seed the window takes at creation: the current UTC time of day in milliseconds,
// ((hours * 60 + minutes) * 60 + seconds) * 1000 + milliseconds.
uint32_t SeedFromClock(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace zemlix
