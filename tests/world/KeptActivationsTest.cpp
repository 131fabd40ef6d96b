// The activations a tick keeps for one bug are the ones that moved it: its sensed inputs,
// every layer as the network's own forward pass makes it, on each of the tick's paths.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "tests/support/Bits.h"
#include "tests/support/Scratch.h"
#include "tests/world/TestHost.h"
#include "world/World.h"

namespace zemlix {
namespace {

using testing::Bits;

class TLargeHost : public testing::TTestHost {
 public:
  int32_t MaximumBugs() const override { return Bugs; }
};

// Every layer's outputs, neuron by neuron, as the definition has them.
std::vector<double> ForwardPass(const TNeuralNet& net, const std::vector<double>& inputs) {
  std::vector<double> all = inputs, layer = inputs;
  const double* weights = net.Weights().data();
  for (int32_t k = 0; k < net.NumLayers; ++k) {
    std::vector<double> next;
    for (int32_t n = 0; n < net.LayerSize(k); ++n, weights += net.LayerInputs(k) + 1)
      next.push_back(ComputeNeuron(weights, layer.data(), net.LayerInputs(k), net.Step));
    all.insert(all.end(), next.begin(), next.end());
    layer = next;
  }
  return all;
}

struct TShape {
  const char* Name;
  std::vector<int32_t> Hidden;
  int32_t Bugs = 30;
  int32_t Kept = 7;
  bool Step = false, Record = false, Plain = false;
  int32_t Threads = 1;
};

TEST(KeptActivationsTest, AreTheValuesThatMovedTheBugOnEveryPath) {
  const TShape shapes[] = {
      {"one hidden layer, batched", {6}},
      {"no hidden layer", {}},
      {"four hidden layers", {3, 8, 1, 5}, 30, 29},
      {"a layer wider than the batch takes", {6, 12}, 30, 0},
      {"step neurons", {6}, 30, 3, true},
      {"recording the log", {4, 4}, 30, 5, false, true},
      {"plain evaluation", {6}, 30, 11, false, false, true},
      {"second block of a threaded tick", {6}, 450, 333, false, false, false, 2},
      {"wide layers, threaded", {9}, 450, 401, false, false, false, 2},
  };
  for (const TShape& shape : shapes) {
    SCOPED_TRACE(shape.Name);
    testing::TScratchDirectory scratch;
    TLargeHost host;
    host.Bugs = shape.Bugs;
    host.Record = shape.Record;
    TWorld world(host, TNetworkLog(scratch.Path));
    world.Parameters.HiddenLayers = shape.Hidden;
    world.Random.Seed = 5;
    world.Threads = shape.Threads;
    if (shape.Record) world.Log.WriteStarted();
    world.BuildPopulation();
    if (shape.Step) {
      for (TNeuralNet& net : world.Nets) net.Step = true;
      world.NetworksChanged();
    }
    SetPlainEvaluation(shape.Plain);
    world.KeepActivationsOf = shape.Kept;
    for (int tick = 0; tick < 5; ++tick) {
      const TCreature before = world.Creatures[shape.Kept];
      const TFood pellet = world.Food[world.NearestFood(before.X, before.Y)];
      world.Tick();
      ASSERT_EQ(world.KeptActivationsBug, shape.Kept);
      const std::vector<double>& kept = world.KeptActivations;
      const TNeuralNet& net = world.Nets[shape.Kept];
      // Inputs as sensed: the nearest pellet's direction from the corner, then the look.
      const long double length = std::sqrt(static_cast<long double>(pellet.X) * pellet.X +
                                           static_cast<long double>(pellet.Y) * pellet.Y);
      const std::vector<double> inputs = {static_cast<double>(pellet.X / length),
                                          static_cast<double>(pellet.Y / length), before.LookX, before.LookY};
      const std::vector<double> expected = ForwardPass(net, inputs);
      ASSERT_EQ(kept.size(), expected.size());
      for (size_t k = 0; k < kept.size(); ++k) ASSERT_EQ(Bits(kept[k]), Bits(expected[k])) << "entry " << k;
      TWeightList outputs(2);
      net.Compute(TWeightList(inputs.begin(), inputs.end()), outputs);
      EXPECT_EQ(Bits(kept[kept.size() - 2]), Bits(outputs[0]));
      EXPECT_EQ(Bits(kept[kept.size() - 1]), Bits(outputs[1]));
      // The impulses kept are the ones the bug moved by.
      EXPECT_EQ(Bits(world.Creatures[shape.Kept].Speed),
                Bits(static_cast<double>(static_cast<long double>(outputs[0]) + outputs[1])));
    }
    SetPlainEvaluation(false);
  }
}

TEST(KeptActivationsTest, NoneAreKeptUnlessAnActiveBugIsAsked) {
  testing::TTestHost host;
  TWorld world(host);
  world.Random.Seed = 3;
  world.BuildPopulation();
  world.KeepActivationsOf = 4;
  world.Tick();
  ASSERT_EQ(world.KeptActivationsBug, 4);
  for (const int32_t asked : {-1, 30, 150}) {  // none, the first inactive slot, a later one
    world.KeepActivationsOf = asked;
    world.Tick();
    EXPECT_EQ(world.KeptActivationsBug, -1) << asked;
  }
  world.KeepActivationsOf = 4;
  world.Tick();
  world.BuildPopulation();
  EXPECT_EQ(world.KeptActivationsBug, -1);  // a new population has not run yet
}

}  // namespace
}  // namespace zemlix
