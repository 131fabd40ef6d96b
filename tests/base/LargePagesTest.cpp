// Blocks for a large world's arrays: aligned to large pages and asked to be backed by them
// when they are big enough, released whole, and holding what vectors put in them.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "base/LargePages.h"

namespace zemlix {
namespace {

// The kernel's VmFlags for the mapping that holds `address` ("" when none does).
std::string MappingFlags(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t start = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2 && line.find('-') < line.find(' '))
      inside = start <= at && at < end;
    else if (inside && line.rfind("VmFlags:", 0) == 0)
      return line;
  }
  return "";
}

TEST(LargePages, BlocksAreAlignedAskedForAndReleasedByTheirSize) {
  struct TCase {
    const char* Name;
    size_t Bytes;
    bool Large;
  };
  const TCase cases[] = {
      {"a few bytes", 24, false},
      {"just below half a large page", LargePageBytes / 2 - 8, false},
      {"half a large page", LargePageBytes / 2, true},
      {"one large page", LargePageBytes, true},
      {"a large page and a byte", LargePageBytes + 1, true},
      {"many large pages and a part", 9 * LargePageBytes + 4096 * 3 + 40, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(UsesLargePages(c.Bytes), c.Large);
    auto* block = static_cast<unsigned char*>(AllocateLarge(c.Bytes));
    ASSERT_NE(block, nullptr);
    // Every byte is usable, the last one too.
    for (size_t at = 0; at < c.Bytes; at += 4096) block[at] = static_cast<unsigned char>(at / 4096);
    block[c.Bytes - 1] = 0xa5;
    EXPECT_EQ(block[c.Bytes - 1], 0xa5);
#if defined(__linux__)
    if (c.Large) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % LargePageBytes, 0u);
      // "hg": the mapping carries the request for huge pages.
      EXPECT_NE(MappingFlags(block).find(" hg"), std::string::npos) << MappingFlags(block);
      EXPECT_NE(MappingFlags(block + c.Bytes - 1).find(" hg"), std::string::npos);
    }
#endif
    ReleaseLarge(block, c.Bytes);
#if defined(__linux__)
    // Released whole: nothing of the large pages a large block spans is still mapped.
    if (c.Large) {
      const size_t spanned = (c.Bytes + LargePageBytes - 1) / LargePageBytes * LargePageBytes;
      EXPECT_EQ(MappingFlags(block), "");
      EXPECT_EQ(MappingFlags(block + spanned - 1), "");
    }
#endif
  }
}

TEST(LargePages, VectorsKeepTheirValuesAcrossGrowthAndCopies) {
  TLargeVector<int64_t> values;
  // From a small block to several large ones: every element moved along each time.
  for (int64_t k = 0; k < 600'000; ++k) values.push_back(k * 7 - 3);
  const TLargeVector<int64_t> copy = values;
  for (int64_t k = 0; k < 600'000; k += 997) ASSERT_EQ(copy[k], k * 7 - 3);
  values.resize(10);
  values.shrink_to_fit();
  EXPECT_EQ(values.back(), 9 * 7 - 3);
  // A resize of the uninitialised kind keeps the elements it had.
  TUninitialisedVector<double> kept(5, 1.5);
  kept.resize(400'000);
  EXPECT_EQ(kept[4], 1.5);
  kept[399'999] = 2.5;
  EXPECT_EQ(kept.back(), 2.5);
}

}  // namespace
}  // namespace zemlix
