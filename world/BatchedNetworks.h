#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ai/NeuralNet.h"

namespace zemlix {

// The weights of a whole population laid out across the bugs (structure of arrays): weight i
// of neuron n in layer k of bug b at Weights[k][(n * (inputs + 1) + i) * Stride + b]. A layer's
// sums then run for four bugs at once, and a layer's activations for all bugs go to the
// batched Sigmoid together. The sums are the networks' own extended-precision steps, so the
// outputs are those of TNeuralNet::Compute bit for bit.
//
// A copy: it is current only for the networks and WeightsVersions it was built from.
class TBatchedNetworks {
 public:
  static constexpr int32_t Stride = 200;    // bugs per row: the world's slots
  static constexpr int32_t MaxWidth = 8;    // the widest layer (and input list) it takes
  static constexpr int32_t NumInputs = 4;

  // Copies the first min(nets.size(), Stride) networks. Networks that this layout cannot
  // take (step neurons, another input count, mixed shapes, a layer wider than MaxWidth)
  // leave it unsupported, and the caller computes them one by one.
  void Rebuild(std::span<const TNeuralNet> nets);
  bool Supported() const { return supported_; }
  // Whether it was built from these networks as they are now (by their WeightsVersion).
  // Debug builds also compare every weight and assert, to catch an edit that bypassed
  // PutWeights.
  bool Current(std::span<const TNeuralNet> nets) const;
  bool SameWeights(std::span<const TNeuralNet> nets) const;

  // Inputs: row m (0..NumInputs-1) holds input m of every bug. Outputs: row j holds output j.
  // Runs bugs 0..count-1 (count <= Stride).
  using TRows = std::array<std::array<double, Stride>, MaxWidth>;
  void Compute(int32_t count, const TRows& inputs, TRows& outputs);

 private:
  struct TLayer {
    int32_t Inputs = 0;
    int32_t Neurons = 0;
    std::vector<double> Weights;
  };
  std::vector<TLayer> layers_;
  std::vector<uint64_t> versions_;
  bool supported_ = false;
  TRows scratch_{};
  std::array<double, Stride> activations_{};
};

}  // namespace zemlix
