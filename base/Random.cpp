#include "base/Random.h"

#include <chrono>

namespace zemlix {

uint32_t SeedFromClock(std::chrono::system_clock::time_point now) {
  using namespace std::chrono;
  const auto sinceMidnight = now - floor<days>(now);  // the system clock counts UTC
  return static_cast<uint32_t>(duration_cast<milliseconds>(sinceMidnight).count());
}

}  // namespace zemlix
