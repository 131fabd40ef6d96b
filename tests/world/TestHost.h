#pragma once

#include "world/World.h"

namespace zemlix::testing {

// A host with settable answers that records the impulse meters it is asked to draw.
class TTestHost : public TWorldHost {
 public:
  int32_t FieldWidth() const override { return Width; }
  int32_t FieldHeight() const override { return Height; }
  int32_t NumberOfBugs() const override { return Bugs; }
  int32_t NumberOfFood() const override { return FoodPellets; }
  int32_t CreatureLifetime() const override { return Lifetime; }
  bool RecordNNIO() const override { return Record; }
  bool ShowStats() const override { return Stats; }
  void DrawImpulseMeters(double left, double right) override {
    ++MeterDraws;
    LastLeft = left;
    LastRight = right;
  }

  int32_t Width = 400, Height = 400, Bugs = 30, FoodPellets = 40, Lifetime = 2000;
  bool Record = false, Stats = false;
  int MeterDraws = 0;
  double LastLeft = -1, LastRight = -1;
};

}  // namespace zemlix::testing
