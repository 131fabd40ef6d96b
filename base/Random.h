#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace zemlix {

// The program's single pseudo-random generator: a 32-bit linear congruential generator.
// One generator per world, seeded explicitly, so one seed always gives one run.
class TRandomGenerator {
 public:
  static constexpr uint32_t Multiplier = 134775813u, Increment = 1u;

  explicit TRandomGenerator(uint32_t seed = 0) : Seed(seed) {}

  // A real in [0, 1): the new state times 2^-32, which is exact in a double.
  double Random() {
    Seed = Seed * Multiplier + Increment;
    return static_cast<double>(Seed) * 0x1p-32;
  }

  uint32_t Seed;
};

// A generator's draws made many at a time: the k-th seed after s is a^k s + (a^(k-1) + ... + 1)
// (mod 2^32), so a batch of them does not wait on one multiplication after the other, and a
// loop reading them waits on none. Its draws are the generator's own, one for one.
class TDrawsAhead {
 public:
  explicit TDrawsAhead(uint32_t seed) { Refill(seed); }

  // The next draw's seed (what TRandomGenerator::Seed becomes with that draw).
  uint32_t NextSeed() {
    if (next_ == Batch) Refill(seeds_[Batch]);
    return seeds_[++next_];
  }
  double Random() { return static_cast<double>(NextSeed()) * 0x1p-32; }
  // The seed after the draws taken so far: a generator given it goes on from here.
  uint32_t Seed() const { return seeds_[next_]; }

 private:
  static constexpr int32_t Batch = 64;
  void Refill(uint32_t from);  // seeds_[0] = from, then the Batch seeds after it

  int32_t next_ = 0;  // seeds_[next_] is the last drawn
  std::array<uint32_t, Batch + 1> seeds_;
};

// The draws of value at most `probability` are exactly those whose seed is at most the
// result (-1: none), since a draw is its seed times 2^-32, exactly: a test on the seed alone.
int64_t SeedsAtMost(double probability);

// The seed the window takes at creation: the current UTC time of day in milliseconds,
// ((hours * 60 + minutes) * 60 + seconds) * 1000 + milliseconds.
uint32_t SeedFromClock(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace zemlix
