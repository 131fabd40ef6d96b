#include "base/Random.h"

#include <chrono>

namespace zemlix {

uint32_t SeedFromClock() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto sinceMidnight = now - floor<days>(now);  // the system clock counts UTC
  return static_cast<uint32_t>(duration_cast<milliseconds>(sinceMidnight).count());
}

}  // namespace zemlix
