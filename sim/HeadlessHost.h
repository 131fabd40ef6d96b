#pragma once

#include "world/Settings.h"
#include "world/World.h"

namespace zemlix {

// The runner's answers to the world: a fixed field (400 x 400 unless given), fixed starting
// conditions up to the parameters' limits, no statistics display, and the log only when
// asked for.
class THeadlessHost : public TWorldHost {
 public:
  THeadlessHost(int32_t bugs, int32_t food, int32_t lifetime, bool recordIO, int32_t width = DefaultFieldWidth,
                int32_t height = DefaultFieldHeight)
      : Bugs(bugs), FoodPellets(food), Lifetime(lifetime), RecordIO(recordIO), Width(width), Height(height) {}
  // The counts, lifetime and field of `parameters`.
  THeadlessHost(const TParameters& parameters, bool recordIO)
      : THeadlessHost(parameters.Bugs, parameters.Food, parameters.Lifetime, recordIO, parameters.FieldWidth,
                      parameters.FieldHeight) {}

  int32_t FieldWidth() const override { return Width; }
  int32_t FieldHeight() const override { return Height; }
  int32_t MaximumBugs() const override;
  int32_t MaximumFood() const override;
  int32_t NumberOfBugs() const override { return Bugs; }
  int32_t NumberOfFood() const override { return FoodPellets; }
  int32_t CreatureLifetime() const override { return Lifetime; }
  bool RecordNNIO() const override { return RecordIO; }

  int32_t Bugs;
  int32_t FoodPellets;
  int32_t Lifetime;
  bool RecordIO;
  int32_t Width;
  int32_t Height;
};

}  // namespace zemlix
