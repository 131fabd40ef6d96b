#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ai/NeuralNet.h"

namespace zemlix {

// Runs a block of networks of one shape layer by layer across the bugs: a neuron's sums run
// for eight bugs side by side, each read from its own network's weights in place, and a
// layer's activations for all bugs go to the batched Sigmoid together. The sums are the
// networks' own extended-precision steps, so the outputs are those of TNeuralNet::Compute
// bit for bit.
//
// It keeps only the block's shape, never a weight: a weight changed by any means takes effect
// on the next Compute. A change of shape or of Step needs a new Rebuild.
class TBatchedNetworks {
 public:
  static constexpr int32_t Stride = 200;    // bugs per block: the world's slots
  static constexpr int32_t MaxWidth = 8;    // the widest layer (and input list) it takes
  static constexpr int32_t NumInputs = 4;

  // Takes the shape of the first min(nets.size(), Stride) networks. Networks that this way
  // cannot run (step neurons, another input count, mixed shapes, a layer wider than
  // MaxWidth) leave it unsupported, and the caller computes them one by one.
  void Rebuild(std::span<const TNeuralNet> nets);
  bool Supported() const { return supported_; }

  // Inputs: row m (0..NumInputs-1) holds input m of every bug. Outputs: row j holds output j.
  // Runs the networks `nets` (at most Stride), which must be the ones it was rebuilt from,
  // or ones of the same shape.
  using TRows = std::array<std::array<double, Stride>, MaxWidth>;
  void Compute(std::span<const TNeuralNet> nets, const TRows& inputs, TRows& outputs) const {
    Compute(nets, inputs, outputs, -1, nullptr);
  }
  // The same, and for the bug `keptLane` (0 .. count - 1) every layer's outputs written to
  // `kept` one after the other, as TNeuralNet::Compute writes them.
  void Compute(std::span<const TNeuralNet> nets, const TRows& inputs, TRows& outputs, int32_t keptLane,
               double* kept) const;

 private:
  struct TLayer {
    int32_t Inputs = 0;
    int32_t Neurons = 0;
    int32_t Offset = 0;  // the flat index of the layer's first weight
  };
  std::vector<TLayer> layers_;
  int32_t weightCount_ = 0;
  bool supported_ = false;
};

}  // namespace zemlix
