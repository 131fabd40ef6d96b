// Blocks for a large world's arrays: aligned to large pages and asked to be backed by them
// when big enough, released whole, and holding what vectors put in them.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "base/LargePages.h"

namespace zemlix {
namespace {

// The kernel's VmFlags line for the mapping that holds `address` ("" when none does).
std::string MappingFlags(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t start = 0, end = 0;
    if (line.find('-') < line.find(' ') && std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2)
      inside = start <= at && at < end;
    else if (inside && line.rfind("VmFlags:", 0) == 0)
      return line;
  }
  return "";
}

TEST(LargePages, BlocksAreAlignedAskedForAndReleasedWhole) {
  const size_t sizes[] = {24, LargePageBytes / 2 - 8, LargePageBytes / 2, LargePageBytes + 1,
                          9 * LargePageBytes + 12328};
  for (const size_t bytes : sizes) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<unsigned char*>(AllocateLarge(bytes));
    for (size_t at = 0; at < bytes; at += 4096) block[at] = 1;  // every page usable
    block[bytes - 1] = 0xa5;
    const bool large = bytes >= LargePageBytes / 2;
    EXPECT_EQ(UsesLargePages(bytes), large);
#if defined(__linux__)
    const size_t spanned = (bytes + LargePageBytes - 1) / LargePageBytes * LargePageBytes;
    if (large) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % LargePageBytes, 0u);
      // "hg": the mapping carries the request for huge pages, to its last byte.
      EXPECT_NE(MappingFlags(block + bytes - 1).find(" hg"), std::string::npos);
    }
    ReleaseLarge(block, bytes);
    if (large) {
      EXPECT_EQ(MappingFlags(block), "");
      EXPECT_EQ(MappingFlags(block + spanned - 1), "");
    }
#else
    ReleaseLarge(block, bytes);
#endif
  }
}

TEST(LargePages, VectorsKeepTheirValuesThroughGrowthAndCopies) {
  TLargeVector<int64_t> values;
  for (int64_t k = 0; k < 600'000; ++k) values.push_back(k * 7 - 3);  // small to large blocks
  const TLargeVector<int64_t> copy = values;
  for (int64_t k = 0; k < 600'000; k += 997) ASSERT_EQ(copy[k], k * 7 - 3);
  TUninitialisedVector<double> kept(5, 1.5);
  kept.resize(400'000);  // the uninitialised kind keeps what it held
  EXPECT_EQ(kept[4], 1.5);
}

}  // namespace
}  // namespace zemlix
