#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

// FNV-1a, 64 bits: spelled out because std::hash may differ between libraries.
uint64_t Fnv1a(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string Hex(uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

TEST(Golden, TheHashFunctionIsFnv1a) {
  EXPECT_EQ(Hex(Fnv1a("")), "cbf29ce484222325");
  EXPECT_EQ(Hex(Fnv1a("a")), "af63dc4c8601ec8c");
  EXPECT_EQ(Hex(Fnv1a("foobar")), "85944171f73967e8");
}

// A fixed seeded run through two generation ends, pinned to the bit. Any change of the
// result, from an optimisation, a compiler flag or an edit, shows here; this passes in
// Debug and Release builds alike. Change the pinned value only for an intended change of
// the model, never to make a build pass.
TEST(Golden, ASeededRunIsPinned) {
  const auto run = testing::RunSim(
      {"--quiet", "--seed", "20240607", "--bugs", "60", "--food", "50", "--lifetime", "500", "--ticks", "1234", "--dump", "-"});
  ASSERT_EQ(run.Status, 0) << run.Error;
  EXPECT_EQ(run.Out.substr(0, run.Out.find('\n')),
            "state tick=1234 generation=2 ttl=266 total=43 average=0.94999999999999996 selfood=17 seed=244929458 bugs=60 "
            "food=50 lifetime=500");
  // The pin covers the model's lines; the checksum line is the file's own protection.
  const size_t check = run.Out.find("\ncheck ");
  ASSERT_NE(check, std::string::npos);
  const std::string model = run.Out.substr(0, check + 1) + run.Out.substr(run.Out.find('\n', check + 1) + 1);
  EXPECT_EQ(Hex(Fnv1a(model)), "d39dee43f0f6e94c");
}

}  // namespace
}  // namespace zemlix
