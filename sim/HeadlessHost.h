#pragma once

#include "world/World.h"

namespace zemlix {

// The runner's answers to the world: a 400 x 400 field, fixed starting conditions, no
// statistics display, and the log only when asked for.
class THeadlessHost : public TWorldHost {
 public:
  THeadlessHost(int32_t bugs, int32_t food, int32_t lifetime, bool recordIO)
      : Bugs(bugs), FoodPellets(food), Lifetime(lifetime), RecordIO(recordIO) {}

  int32_t FieldWidth() const override;
  int32_t FieldHeight() const override;
  int32_t NumberOfBugs() const override { return Bugs; }
  int32_t NumberOfFood() const override { return FoodPellets; }
  int32_t CreatureLifetime() const override { return Lifetime; }
  bool RecordNNIO() const override { return RecordIO; }

  int32_t Bugs;
  int32_t FoodPellets;
  int32_t Lifetime;
  bool RecordIO;
};

}  // namespace zemlix
