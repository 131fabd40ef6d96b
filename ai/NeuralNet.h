#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ai/WeightList.h"
#include "base/Random.h"

namespace zemlix {

// One neuron: `weights` holds numInputs + 1 entries, the threshold weight first, then one per
// input; the caller hands in at least numInputs inputs. The sum starts just off zero and is
// stored as a double after every addition; each product and addition is made in extended
// precision first. A step neuron fires (1.0) when the sum reaches the threshold.
double ComputeNeuron(const double* weights, const double* inputs, int32_t numInputs, bool step);

// A fully connected feed-forward network. Its weights are one flat list in flat weight order
// (layer by layer, neuron by neuron, threshold weight first), drawn in that order at
// construction. Their count is fixed by the shape; their values may change at any time,
// through PutWeights or in place through Weights(), and every Compute reads them as they are.
class TNeuralNet {
 public:
  static constexpr int32_t MaxLayers = 8;  // kept inside the object: no allocation per shape

  // LayerSizes must have 1 .. MaxLayers entries, none negative.
  TNeuralNet(int32_t NumInputs, const std::vector<int32_t>& LayerSizes, bool Step,
             TRandomGenerator& random);

  // The forward pass. An input list whose size differs from NumInputs leaves `outputs`
  // untouched; otherwise `outputs` must hold at least NumOutputs entries.
  void Compute(const TWeightList& inputs, TWeightList& outputs) const { Compute(inputs, outputs, nullptr); }
  // The same, and when `activations` is not null, every layer's outputs written there one
  // after the other (LayerSize(0) + ... + LayerSize(NumLayers - 1) entries): the values the
  // pass itself made, for a view of the network.
  void Compute(const TWeightList& inputs, TWeightList& outputs, double* activations) const;

  int32_t CountWeights() const { return static_cast<int32_t>(Weights_.size()); }
  // Copies all weights out in flat order; `weights` holds at least CountWeights entries,
  // and entries past the last weight are left as they were.
  void GetWeights(std::span<double> weights) const;
  // Loads all weights in flat order from the first CountWeights entries of `weights`.
  void PutWeights(std::span<const double> weights);
  // The weights themselves, in flat order.
  std::span<double> Weights() { return Weights_; }
  std::span<const double> Weights() const { return Weights_; }

  // Neurons in layer k, and the flat index of that layer's first weight.
  int32_t LayerSize(int32_t k) const { return LayerSizes_[k]; }
  int32_t LayerInputs(int32_t k) const { return k == 0 ? NumInputs : LayerSizes_[k - 1]; }
  int32_t LayerOffset(int32_t k) const;

  int32_t NumInputs;
  int32_t NumOutputs;
  int32_t NumLayers;
  int32_t Fitness = 0;  // the bug's score this generation; changed only from outside
  // Every neuron a step neuron. Changing it on a network of the world is a shape change:
  // call TWorld::NetworksChanged.
  bool Step;

 private:
  std::array<int32_t, MaxLayers> LayerSizes_{};
  TWeightList Weights_;
};

}  // namespace zemlix
