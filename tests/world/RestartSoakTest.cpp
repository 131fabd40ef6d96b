// Restarting the population over and over must not grow the program: memory after many
// Starts stays within a few percent of memory after the first. scripts/soak.sh runs it
// with ZEMLIX_SOAK_RESTARTS=10000; the suite runs a short version.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/world/TestHost.h"
#include "world/World.h"

namespace zemlix {
namespace {

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); 0 when missing.
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return 0;
}

int Restarts() {
  const char* text = std::getenv("ZEMLIX_SOAK_RESTARTS");
  const int restarts = text ? std::atoi(text) : 0;
  return restarts > 0 ? restarts : 500;
}

TEST(RestartSoak, MemoryAfterManyStartsStaysNearTheFirst) {
  testing::TTestHost host;
  host.Bugs = 200;
  host.FoodPellets = 100;
  TWorld world(host);
  world.Random.Seed = 1;
  world.BuildPopulation();
  for (int tick = 0; tick < 10; ++tick) world.Tick();
  const long firstPeak = StatusKiB("VmHWM");
  const long firstResident = StatusKiB("VmRSS");
  ASSERT_GT(firstPeak, 0);

  const int restarts = Restarts();
  for (int i = 1; i < restarts; ++i) {
    world.BuildPopulation();
    world.Tick();
  }
  ASSERT_TRUE(world.HasPopulation());
  EXPECT_EQ(world.Nets.size(), static_cast<size_t>(TWorld::MaxBugs));
  const long endPeak = StatusKiB("VmHWM");
  const long endResident = StatusKiB("VmRSS");
  std::printf("restarts %d: after the first Start VmHWM %ld KiB, VmRSS %ld KiB; at the end VmHWM %ld KiB, "
              "VmRSS %ld KiB (%+.2f%% peak)\n",
              restarts, firstPeak, firstResident, endPeak, endResident,
              100.0 * static_cast<double>(endPeak - firstPeak) / static_cast<double>(firstPeak));
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed blocks in quarantine, so resident size says nothing here;
  // its leak check at exit does the job instead.
#else
  EXPECT_LE(endPeak, firstPeak + firstPeak / 20) << "peak resident size grew by more than 5 %";
#endif
}

}  // namespace
}  // namespace zemlix
