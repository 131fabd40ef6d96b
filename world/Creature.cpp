#include "world/Creature.h"

#include <cmath>

#include "ai/PlainEvaluation.h"
#include "world/AdvancedMathUnit.h"
#include "world/LookVectorFast.h"

namespace zemlix {

void LookVectorReference(double heading, double& lookX, double& lookY) {
  lookX = static_cast<double>(-std::sin(static_cast<long double>(heading)));
  lookY = static_cast<double>(std::cos(static_cast<long double>(heading)));
}

void LookVector(double heading, double& lookX, double& lookY) {
  if (PlainEvaluation()) {
    LookVectorReference(heading, lookX, lookY);
    return;
  }
  // Only the value that the fast path leaves open goes to the C library.
  const int decided = LookVectorFastParts(heading, lookX, lookY);
  if (!(decided & LookXDecided)) lookX = static_cast<double>(-std::sin(static_cast<long double>(heading)));
  if (!(decided & LookYDecided)) lookY = static_cast<double>(std::cos(static_cast<long double>(heading)));
}

TCreature::TCreature(int32_t x, int32_t y, double degrees, double speed)
    : X(x), Y(y), LookX(0), LookY(0), Heading(static_cast<double>(DegToRad(degrees))), Speed(speed) {
  LookVector(Heading, LookX, LookY);
}

void TCreature::SetHeading(double heading) {
  Heading = heading;
  LookVector(Heading, LookX, LookY);
}

void TCreature::MoveStep() {
  // One step each way suffices: a tick never turns a bug by more than 0.3.
  if (Heading > Pi2) Heading = static_cast<double>(Heading - Pi2);
  if (Heading < -Pi2) Heading = static_cast<double>(Heading + Pi2);
  if (Speed > 2.0) Speed = 2.0;
  X = static_cast<double>(X + static_cast<long double>(LookX) * Speed);
  Y = static_cast<double>(Y + static_cast<long double>(LookY) * Speed);
}

}  // namespace zemlix
