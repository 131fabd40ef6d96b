#include "world/Creature.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ai/PlainEvaluation.h"
#include "ai/SigmoidBatch.h"
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

void LookVectorBatch(const double* headings, double* lookX, double* lookY, int32_t count) {
  const TBatchKernel kernel = BatchKernel();
  if (PlainEvaluation() || kernel == TBatchKernel::Portable) {
    for (int32_t i = 0; i < count; ++i) LookVector(headings[i], lookX[i], lookY[i]);
    return;
  }
  // In chunks, so the decision flags fit on the stack.
  constexpr int32_t Chunk = 256;
  uint8_t decided[Chunk];
  for (int32_t start = 0; start < count; start += Chunk) {
    const int32_t size = std::min(count - start, Chunk);
    if (kernel == TBatchKernel::Avx512)
      LookVectorBatchAvx512(headings + start, lookX + start, lookY + start, size, decided);
    else
      LookVectorBatchAvx2(headings + start, lookX + start, lookY + start, size, decided);
    for (int32_t k = 0; k < size; ++k) {
      if (decided[k] == (LookXDecided | LookYDecided)) continue;
      const int32_t i = start + k;
      const double heading = headings[i];
      // The kernel's estimates tell whether the x87 stage can decide anything.
      const bool tryX = !(decided[k] & LookXDecided) && std::fabs(lookX[i]) < LookVectorX87Useful;
      const bool tryY = !(decided[k] & LookYDecided) && std::fabs(lookY[i]) < LookVectorX87Useful;
      double x = 0, y = 0;
      const int fast = tryX || tryY ? LookVectorFastParts(heading, x, y) : 0;
      if (!(decided[k] & LookXDecided))
        lookX[i] = tryX && fast & LookXDecided ? x : static_cast<double>(-std::sin(static_cast<long double>(heading)));
      if (!(decided[k] & LookYDecided))
        lookY[i] = tryY && fast & LookYDecided ? y : static_cast<double>(std::cos(static_cast<long double>(heading)));
    }
  }
}

TCreature::TCreature(int32_t x, int32_t y, double degrees, double speed)
    : X(x), Y(y), LookX(0), LookY(0), Heading(static_cast<double>(DegToRad(degrees))), Speed(speed) {
  LookVector(Heading, LookX, LookY);
}

void TCreature::SetHeading(double heading) {
  Heading = heading;
  LookVector(Heading, LookX, LookY);
}

void TCreature::MoveStep(double speedCap) {
  // One step each way suffices: a tick never turns a bug by more than the turn limit, at
  // most 3.
  if (Heading > Pi2) Heading = static_cast<double>(Heading - Pi2);
  if (Heading < -Pi2) Heading = static_cast<double>(Heading + Pi2);
  if (Speed > speedCap) Speed = speedCap;
  X = static_cast<double>(X + static_cast<long double>(LookX) * Speed);
  Y = static_cast<double>(Y + static_cast<long double>(LookY) * Speed);
}

}  // namespace zemlix
