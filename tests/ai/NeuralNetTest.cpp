#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ai/AIUnit.h"

namespace zemlix {
namespace {

TEST(Sigmoid, UsesTheBase2Point7183) {
  EXPECT_EQ(Sigmoid(0, 1), 0.5);
  EXPECT_NEAR(Sigmoid(1, 1), 0.7310598929, 1e-10);
  EXPECT_NEAR(Sigmoid(-1, 1), 0.2689401070, 1e-10);
  // Base e would give 0.7310585786...: the constant really is 2.7183.
  EXPECT_GT(std::fabs(Sigmoid(1, 1) - 0.7310585786300049), 1e-7);
  EXPECT_EQ(Sigmoid(1e-10, 1), SigmoidReference(1e-10, 1));
}

TEST(Neuron, SumStartsJustAboveZero) {
  const double sigmoid[4] = {0, 0.7, -0.2, 0.9};
  const double zeros[3] = {0, 0, 0};
  EXPECT_EQ(ComputeNeuron(sigmoid, zeros, 3, false), Sigmoid(1e-10, 1.0));
  EXPECT_NE(ComputeNeuron(sigmoid, zeros, 3, false), 0.5);

  double step[4] = {1e-10, 0.5, 0.5, 0.5};
  EXPECT_EQ(ComputeNeuron(step, zeros, 3, true), 1.0);  // a sum equal to the threshold fires
  step[0] = std::nextafter(1e-10, 1.0);
  EXPECT_EQ(ComputeNeuron(step, zeros, 3, true), 0.0);
}

TEST(Neuron, SumIsRoundedToDoubleAfterEachAddition) {
  // 1e-10 + 1 rounds to a double near 1; adding -1 then leaves that rounding error, not 1e-10.
  double weights[4] = {0, 1, -1, 0};
  const double inputs[3] = {1, 1, 0};
  const double sumInDouble = (1e-10 + 1.0) - 1.0;
  weights[0] = sumInDouble;
  EXPECT_EQ(ComputeNeuron(weights, inputs, 3, true), 1.0);
  weights[0] = std::nextafter(sumInDouble, 1.0);
  EXPECT_EQ(ComputeNeuron(weights, inputs, 3, true), 0.0);
}

TEST(NeuralNet, ProgramShapeAndFlatOrder) {
  TRandomGenerator random(42);
  TNeuralNet net(4, {6, 2}, false, random);
  EXPECT_EQ(net.CountWeights(), 44);
  EXPECT_EQ(net.NumOutputs, 2);
  EXPECT_EQ(net.NumLayers, 2);
  EXPECT_EQ(net.Fitness, 0);

  // Construction draws exactly 44 numbers, in flat order.
  TRandomGenerator replay(42);
  TWeightList weights(44);
  net.GetWeights(weights);
  for (double w : weights) {
    EXPECT_EQ(w, replay.Random() * 2 - 1);
    EXPECT_GE(w, -1.0);
    EXPECT_LT(w, 1.0);
  }
  EXPECT_EQ(random.Seed, replay.Seed);

  // The network holds them in that order: the hidden layer's neurons take 5 weights each
  // from 0, the output layer's 7 each from 30.
  EXPECT_TRUE(std::equal(weights.begin(), weights.end(), net.Weights().begin(), net.Weights().end()));
  EXPECT_EQ(net.LayerOffset(0), 0);
  EXPECT_EQ(net.LayerOffset(1), 30);
  EXPECT_EQ(net.LayerOffset(2), 44);
  EXPECT_EQ(net.LayerInputs(0), 4);
  EXPECT_EQ(net.LayerInputs(1), 6);
  EXPECT_EQ(net.LayerSize(0), 6);
  EXPECT_EQ(net.LayerSize(1), 2);
}

TEST(NeuralNet, ComputeMatchesAHandEvaluation) {
  TRandomGenerator random(7);
  TNeuralNet net(4, {6, 2}, false, random);
  const TWeightList inputs = {0.6, 0.8, -0.3, 0.95};
  TWeightList outputs(2);
  net.Compute(inputs, outputs);

  // Threshold weights sit at 0, 5, ..., 25, 30 and 37.
  const double* weights = net.Weights().data();
  double hidden[6];
  for (int n = 0; n < 6; ++n) hidden[n] = ComputeNeuron(weights + 5 * n, inputs.data(), 4, false);
  for (int m = 0; m < 2; ++m) EXPECT_EQ(outputs[m], ComputeNeuron(weights + 30 + 7 * m, hidden, 6, false));
}

TEST(NeuralNet, WrongInputCountLeavesOutputsAlone) {
  TRandomGenerator random(3);
  TNeuralNet net(4, {6, 2}, false, random);
  TWeightList outputs = {123.0, -7.0};
  net.Compute({1, 2, 3}, outputs);
  net.Compute({1, 2, 3, 4, 5}, outputs);
  EXPECT_EQ(outputs, (TWeightList{123.0, -7.0}));
}

TEST(NeuralNet, WeightsCarryOverToAnotherNet) {
  TRandomGenerator random(9);
  TNeuralNet a(4, {6, 2}, false, random), b(4, {6, 2}, false, random);
  TWeightList weights(50, 99.0);
  a.GetWeights(weights);
  EXPECT_EQ(weights[44], 99.0);  // entries past the last weight are left alone
  b.PutWeights(weights);
  TWeightList outA(2), outB(2);
  for (double x : {0.0, 0.25, -1.0, 0.7}) {
    a.Compute({x, 1 - x, x * x, -x}, outA);
    b.Compute({x, 1 - x, x * x, -x}, outB);
    EXPECT_EQ(outA, outB);
  }
}

TEST(NeuralNet, StepOutputsAreZeroOrOne) {
  TRandomGenerator random(11);
  TNeuralNet net(4, {6, 2}, true, random);
  TWeightList outputs(2);
  for (int i = 0; i < 100; ++i) {
    net.Compute({random.Random(), random.Random(), random.Random() * 2 - 1, random.Random() * 2 - 1}, outputs);
    for (double out : outputs) EXPECT_TRUE(out == 0.0 || out == 1.0);
  }
}

TEST(NeuralNet, SingleLayerOutputsItsLayer) {
  TRandomGenerator random(5);
  TNeuralNet net(2, {3}, false, random);
  TWeightList outputs(3);
  const TWeightList inputs = {0.5, -0.25};
  net.Compute(inputs, outputs);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(outputs[i], ComputeNeuron(net.Weights().data() + 3 * i, inputs.data(), 2, false));
}

TEST(NeuralNet, RefusesListsThatAreTooShort) {
  TRandomGenerator random(5);
  TNeuralNet net(4, {6, 2}, false, random);
  TWeightList shortList(43);
  EXPECT_THROW(net.GetWeights(shortList), std::out_of_range);
  EXPECT_THROW(net.PutWeights(shortList), std::out_of_range);
  TWeightList oneOutput(1);
  EXPECT_THROW(net.Compute({1, 2, 3, 4}, oneOutput), std::out_of_range);
  EXPECT_THROW(TNeuralNet(4, {}, false, random), std::invalid_argument);
  EXPECT_THROW(TNeuralNet(4, {3, -1}, false, random), std::invalid_argument);
  EXPECT_THROW(TNeuralNet(4, std::vector<int32_t>(TNeuralNet::MaxLayers + 1, 2), false, random), std::invalid_argument);
  EXPECT_EQ(TNeuralNet(4, std::vector<int32_t>(TNeuralNet::MaxLayers, 2), false, random).CountWeights(), 10 + 7 * 6);
}

}  // namespace
}  // namespace zemlix
