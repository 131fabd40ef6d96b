#pragma once

#include <cstdint>

namespace zemlix {

// A bug's body. Heading 0 looks straight down the field, pi/2 to the left: a growing
// heading turns the bug clockwise on screen. LookX/LookY follow Heading whenever the bug
// turns and are never changed on their own.
class TCreature {
 public:
  TCreature(int32_t x, int32_t y, double degrees, double speed);

  // Wraps the heading by at most one turn each way, caps the speed at `speedCap`, and
  // advances the position along the look vector. Wrapping at the field's edges is the
  // tick's job.
  void MoveStep(double speedCap = 2.0);

  // Sets Heading and recomputes the look vector from it.
  void SetHeading(double heading);

  double X;
  double Y;
  double LookX;
  double LookY;
  double Heading;
  double Speed;
};

// (-sin h, cos h) evaluated in extended precision, each rounded to double.
void LookVector(double heading, double& lookX, double& lookY);
void LookVectorReference(double heading, double& lookX, double& lookY);

}  // namespace zemlix
