#pragma once

#include <cstdint>
#include <vector>

#include "ai/WeightList.h"
#include "base/Random.h"

namespace zemlix {

class TNeuron {
 public:
  // Draws the NumInputs + 1 weights from `random`, threshold weight first, each in [-1, 1).
  TNeuron(int32_t NumInputs, bool Step, TRandomGenerator& random);

  // Reads inputs 0 .. NumInputs - 1; the caller hands in at least that many.
  double Compute(const double* inputs) const;

  bool Step;
  int32_t NumInputs;
  TWeightList Weights;  // entry 0 is the threshold weight, entry i weighs input i - 1
};

class TNeuronLayer {
 public:
  TNeuronLayer(int32_t NumNeurons, int32_t inputsPerNeuron, bool Step, TRandomGenerator& random);

  // Writes outputs 0 .. NumNeurons - 1; every neuron reads the same whole input list.
  void Compute(const double* inputs, double* outputs) const;

  int32_t NumNeurons;
  std::vector<TNeuron> Neurons;
};

// A fully connected feed-forward network. Weights are drawn at construction in flat weight
// order (layer by layer, neuron by neuron, threshold weight first) and change afterwards
// only through PutWeights, which counts the changes in WeightsVersion: copies of the weights
// (the world's batched layout) compare it to know they are current.
class TNeuralNet {
 public:
  // LayerSizes must have at least one entry and none negative.
  TNeuralNet(int32_t NumInputs, const std::vector<int32_t>& LayerSizes, bool Step,
             TRandomGenerator& random);

  // The forward pass. An input list whose size differs from NumInputs leaves `outputs`
  // untouched; otherwise `outputs` must hold at least NumOutputs entries.
  void Compute(const TWeightList& inputs, TWeightList& outputs) const;

  int32_t CountWeights() const;
  // Copies all weights out in flat order; `weights` holds at least CountWeights entries,
  // and entries past the last weight are left as they were.
  void GetWeights(TWeightList& weights) const;
  // Loads all weights in flat order from the first CountWeights entries of `weights`.
  void PutWeights(const TWeightList& weights);

  int32_t NumInputs;
  int32_t NumOutputs;
  int32_t NumLayers;
  std::vector<TNeuronLayer> Layers;
  int32_t Fitness = 0;  // the bug's score this generation; changed only from outside
  bool Step;
  uint64_t WeightsVersion = 0;  // raised by every PutWeights
};

}  // namespace zemlix
