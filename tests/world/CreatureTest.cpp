#include <gtest/gtest.h>

#include <cmath>

#include "world/AdvancedMathUnit.h"
#include "world/Creature.h"

namespace zemlix {
namespace {

TEST(AdvancedMath, AnglesAndDistances) {
  EXPECT_EQ(DegTo256(0), 0);
  EXPECT_EQ(DegTo256(-180), -128);
  EXPECT_EQ(DegTo256(-90), -64);
  EXPECT_EQ(DegTo256(90), 64);
  EXPECT_EQ(DegTo256(1), 1);     // 0.711 rounds to 1
  EXPECT_EQ(DegTo256(45), 32);
  EXPECT_EQ(Distance(0, 0, 3, 4), 5.0L);
  EXPECT_EQ(Distance(1, 1, 1, 1), 0.0L);
  // The constants are extended: one degree is not the double-rounded product.
  EXPECT_EQ(DegToRad(1), 0.0174532925199432958L);
  EXPECT_NE(DegToRad(1), static_cast<long double>(0.0174532925199432958));
}

TEST(Creature, HeadingZeroLooksDownAndNinetyDegreesLeft) {
  TCreature down(10, 20, 0.0, 1.0);
  EXPECT_EQ(down.X, 10.0);
  EXPECT_EQ(down.Y, 20.0);
  EXPECT_EQ(down.LookX, 0.0);
  EXPECT_EQ(down.LookY, 1.0);
  down.MoveStep();
  EXPECT_EQ(down.X, 10.0);
  EXPECT_EQ(down.Y, 21.0);

  TCreature left(10, 20, 90.0, 1.0);
  EXPECT_EQ(left.LookX, -1.0);
  EXPECT_NEAR(left.LookY, 0.0, 1e-16);  // cos of the double nearest pi/2
  left.MoveStep();
  EXPECT_EQ(left.X, 9.0);
}

TEST(Creature, LookVectorIsRoundedFromExtendedSineAndCosine) {
  TCreature bug(0, 0, 0.0, 0.0);
  bug.SetHeading(0.5);
  EXPECT_EQ(bug.LookX, static_cast<double>(-std::sin(0.5L)));
  EXPECT_EQ(bug.LookY, static_cast<double>(std::cos(0.5L)));
  EXPECT_EQ(bug.Heading, 0.5);
}

TEST(Creature, MoveStepWrapsHeadingOnceEachWay) {
  TCreature bug(100, 100, 0.0, 0.0);
  bug.Heading = 6.4;
  bug.MoveStep();
  EXPECT_EQ(bug.Heading, static_cast<double>(static_cast<long double>(6.4) - Pi2));
  bug.Heading = -6.4;
  bug.MoveStep();
  EXPECT_EQ(bug.Heading, static_cast<double>(static_cast<long double>(-6.4) + Pi2));
  // The double nearest 2 pi lies below the extended constant: it stays.
  bug.Heading = 6.283185307179586;
  bug.MoveStep();
  EXPECT_EQ(bug.Heading, 6.283185307179586);
  // The look vector is not recomputed by the wrap.
  bug.LookX = 0.25;
  bug.Heading = 7.0;
  bug.MoveStep();
  EXPECT_EQ(bug.LookX, 0.25);
}

TEST(Creature, SpeedIsCappedAtTwoButMayBeNegative) {
  TCreature bug(100, 100, 0.0, 2.5);
  bug.MoveStep();
  EXPECT_EQ(bug.Speed, 2.0);
  EXPECT_EQ(bug.Y, 102.0);
  TCreature backwards(100, 100, 0.0, -1.5);
  backwards.MoveStep();
  EXPECT_EQ(backwards.Speed, -1.5);
  EXPECT_EQ(backwards.Y, 98.5);
}

}  // namespace
}  // namespace zemlix
