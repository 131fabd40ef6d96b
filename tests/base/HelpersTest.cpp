#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/Errors.h"
#include "base/FormatFixed.h"
#include "base/Random.h"
#include "base/Rounding.h"

namespace zemlix {
namespace {

TEST(Round, TiesGoToEven) {
  EXPECT_EQ(Round(0.5L), 0);
  EXPECT_EQ(Round(1.5L), 2);
  EXPECT_EQ(Round(2.5L), 2);
  EXPECT_EQ(Round(-0.5L), 0);
  EXPECT_EQ(Round(-1.5L), -2);
  EXPECT_EQ(Round(5.5L), 6);
  EXPECT_EQ(Round(16.5L), 16);
  EXPECT_EQ(Round(0.49999999999999994L), 0);
  EXPECT_EQ(Round(2.5000000001L), 3);
}

// The library's rounding is the reference: halves, one step of the 64-bit significand either
// side of them, and whole numbers, across the range the drawing and the world use.
TEST(Round, AgreesWithTheLibrary) {
  for (long double whole = -70000.0L; whole <= 70000.0L; whole += 0.5L) {
    for (const long double value :
         {whole, std::nextafter(whole, -1e9L), std::nextafter(whole, 1e9L), whole + 0.25L, whole - 0.125L}) {
      ASSERT_EQ(Round(value), static_cast<int32_t>(std::lrintl(value))) << static_cast<double>(value);
    }
  }
  for (const long double value : {2147483647.0L, -2147483648.0L, 2147483646.5L, -2147483647.5L, 1e-4000L, -0.0L})
    EXPECT_EQ(Round(value), static_cast<int32_t>(std::lrintl(value))) << static_cast<double>(value);
}

TEST(Random, FollowsTheLinearCongruence) {
  TRandomGenerator random(0);
  EXPECT_EQ(random.Random(), 1.0 / 4294967296.0);
  EXPECT_EQ(random.Seed, 1u);
  EXPECT_EQ(random.Random(), 134775814.0 / 4294967296.0);
  // Wraps modulo 2^32 and never reaches 1.
  TRandomGenerator high(0xFFFFFFFFu);
  const double r = high.Random();
  EXPECT_EQ(high.Seed, static_cast<uint32_t>(0xFFFFFFFFu * 134775813ull + 1));
  EXPECT_LT(r, 1.0);
  EXPECT_GE(r, 0.0);
}

TEST(Random, SameSeedSameSequence) {
  TRandomGenerator a(12345), b(12345);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.Random(), b.Random());
}

// Draws made ahead in batches must be the generator's own, one for one, across the batches'
// seams, and leave it where the generator would be.
TEST(Random, DrawsAheadAreTheGeneratorsDraws) {
  for (const uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
    TRandomGenerator random(seed);
    TDrawsAhead ahead(seed);
    EXPECT_EQ(ahead.Seed(), seed);
    for (int i = 0; i < 200; ++i) {
      ASSERT_EQ(i % 3 == 0 ? ahead.Random() : ahead.NextSeed() * 0x1p-32, random.Random()) << seed << ", draw " << i;
      ASSERT_EQ(ahead.Seed(), random.Seed);
    }
  }
}

// A test on the seed alone decides as the test on the draw's value, at the edges too: the
// draws of seed 0 and 2^32 - 1, a probability exactly on a draw's value and just beside it,
// -0 (which 0 is at most), and probabilities no draw or every draw meets.
TEST(Random, SeedsAtMostDecideAsTheDraws) {
  const double probabilities[] = {-1.0, -0.0, 0.0, 0x1p-32, 0x1p-32 * (1 - 0x1p-53), 0.05, 0x1p-33,
                                  0.5, 1 - 0x1p-32, 1 - 0x1p-53, 1.0, 7.0, INFINITY, -INFINITY, NAN};
  const uint32_t seeds[] = {0u, 1u, 2u, 214748364u, 214748365u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  for (const double p : probabilities)
    for (const uint32_t seed : seeds)
      EXPECT_EQ(static_cast<int64_t>(seed) <= SeedsAtMost(p), static_cast<double>(seed) * 0x1p-32 <= p)
          << "probability " << p << ", seed " << seed;
}

TEST(Random, ClockSeedIsATimeOfDayInMilliseconds) {
  using namespace std::chrono;
  EXPECT_LT(SeedFromClock(), 24u * 60 * 60 * 1000);
  const sys_days day = 2026y / December / 9;
  const struct {
    system_clock::duration SinceMidnight;
    uint32_t Seed;
  } cases[] = {
      {hours(12) + minutes(34) + seconds(56) + milliseconds(789), 45296789u},
      {milliseconds(1), 1u},
      {hours(23) + minutes(59) + seconds(59) + milliseconds(999) + microseconds(999), 86399999u},
      {hours(24), 0u},  // the next day's midnight
  };
  for (const auto& c : cases) EXPECT_EQ(SeedFromClock(day + c.SinceMidnight), c.Seed);
}

TEST(FormatFixed, WorldViewAverage) {
  EXPECT_EQ(FormatFixed(3.456, 2, 2), "3.50");
  EXPECT_EQ(FormatFixed(12.345, 2, 2), "12.00");
  EXPECT_EQ(FormatFixed(0.0, 2, 2), "0.00");
  EXPECT_EQ(FormatFixed(123.4, 2, 2), "1.2E2");
  EXPECT_EQ(FormatFixed(99.96, 2, 2), "1E2");
  EXPECT_EQ(FormatFixed(100.0, 2, 2), "1E2");
  EXPECT_EQ(FormatFixed(1234.0, 2, 2), "1.2E3");
  EXPECT_EQ(FormatFixed(0.005, 2, 2), "0.01");   // 0.005000000000000000104 rounds up
  EXPECT_EQ(FormatFixed(0.125, 2, 2), "0.13");   // an exact tie goes up
}

TEST(FormatFixed, LogNumbers) {
  EXPECT_EQ(FormatFixed(0.5, 9, 8), "0.50000000");
  EXPECT_EQ(FormatFixed(1 / std::sqrt(2.0), 9, 8), "0.70710678");
  EXPECT_EQ(FormatFixed(123.4567891234, 9, 8), "123.45678900");
  EXPECT_EQ(FormatFixed(-0.47942553860420301, 9, 8), "-0.47942554");
  EXPECT_EQ(FormatFixed(1.0, 9, 8), "1.00000000");
  EXPECT_EQ(FormatFixed(5e-9, 9, 8), "0.00000001");
  EXPECT_EQ(FormatFixed(4.9e-9, 9, 8), "0.00000000");
  EXPECT_EQ(FormatFixed(1e-300, 9, 8), "0.00000000");
  EXPECT_EQ(FormatFixed(1234567890.0, 9, 8), "1.23456789E9");
  EXPECT_EQ(FormatFixed(0.123456, 5, 4), "0.1235");
  EXPECT_EQ(FormatFixed(0.015, 5, 4), "0.0150");
}

TEST(FormatFixed, NegativeValuesThatRoundToZeroHaveNoSign) {
  EXPECT_EQ(FormatFixed(-0.001, 2, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.0, 9, 8), "0.00000000");
  EXPECT_EQ(FormatFixed(-0.006, 2, 2), "-0.01");
  EXPECT_EQ(FormatFixed(-123.4, 2, 2), "-1.2E2");
}

TEST(FormatFixed, RoundsTheExactBinaryValueOnce) {
  // 0.015 is 0.01499999999999999944... in binary: no double rounding up through 0.015.
  EXPECT_EQ(FormatFixed(0.015, 2, 2), "0.01");
  // 2.675 is 2.67499999999999982236431605997495353221893310546875.
  EXPECT_EQ(FormatFixed(2.675, 3, 2), "2.67");
  // A value whose 40-digit printing ends in a carry: the full expansion decides.
  EXPECT_EQ(FormatFixed(0.4999999999999999444888487687421729788184165954589843750, 1, 0), "0");
  EXPECT_EQ(FormatFixed(9.5, 1, 0), "1E1");
  EXPECT_EQ(FormatFixed(9.4, 1, 0), "9");
}

TEST(FormatFixed, KeepsMoreThanFortyDigitsExactly) {
  // 0.1 is 0.1000000000000000055511151231257827021181583404541015625 in binary.
  EXPECT_EQ(FormatFixed(0.1, 50, 50), "0.10000000000000000555111512312578270211815834045410");
  EXPECT_EQ(FormatFixed(0.1, 45, 60), "0.100000000000000005551115123125782702118158340000000000000000");
  EXPECT_EQ(FormatFixed(-1.5, 60, 45), "-1.500000000000000000000000000000000000000000000");
  // Every digit of the smallest subnormal, and zeros beyond them.
  EXPECT_EQ(FormatFixed(5e-324, 800, 1100).substr(0, 330),
            "0." + std::string(323, '0') + "49406");
  EXPECT_EQ(FormatFixed(5e-324, 800, 1100).size(), 1102u);
}

TEST(InOutError, MessagesOfTheCodes) {
  EXPECT_STREQ(EInOutError(2).what(), "File not found");
  EXPECT_STREQ(EInOutError(3).what(), "Invalid filename");
  EXPECT_STREQ(EInOutError(4).what(), "Too many open files");
  EXPECT_STREQ(EInOutError(5).what(), "File access denied");
  EXPECT_STREQ(EInOutError(100).what(), "Read beyond end of file");
  EXPECT_STREQ(EInOutError(101).what(), "Disk full");
  EXPECT_STREQ(EInOutError(106).what(), "Invalid numeric input");
  EXPECT_STREQ(EInOutError(32).what(), "I/O error 32");
  EXPECT_EQ(InOutErrorCode(ENOENT), 2);
  EXPECT_EQ(InOutErrorCode(EACCES), 5);
  EXPECT_EQ(InOutErrorCode(EROFS), 5);
  EXPECT_EQ(InOutErrorCode(EISDIR), 5);
  EXPECT_EQ(InOutErrorCode(ENOSPC), 101);
  EXPECT_EQ(InOutErrorCode(EMFILE), 4);
  EXPECT_NE(InOutErrorCode(EIO), 5);  // not mistaken for "File access denied"
}

}  // namespace
}  // namespace zemlix
