#include "world/BatchedNetworks.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

#include "ai/SigmoidBatch.h"

namespace zemlix {
namespace {

bool SameShape(const TNeuralNet& a, const TNeuralNet& b) {
  if (a.Step != b.Step || a.NumInputs != b.NumInputs || a.NumLayers != b.NumLayers) return false;
  for (int32_t k = 0; k < a.NumLayers; ++k)
    if (a.LayerSize(k) != b.LayerSize(k)) return false;
  return true;
}

bool Batchable(std::span<const TNeuralNet> nets, size_t count) {
  if (count == 0) return false;
  const TNeuralNet& first = nets[0];
  if (first.NumInputs != TBatchedNetworks::NumInputs || first.Step) return false;
  for (int32_t k = 0; k < first.NumLayers; ++k)
    if (first.LayerSize(k) > TBatchedNetworks::MaxWidth || first.LayerSize(k) <= 0) return false;
  for (size_t b = 1; b < count; ++b)
    if (!SameShape(nets[b], first)) return false;
  return true;
}

// One layer's activations for bugs b..b+Lanes-1, whose weights for the layer start at
// weights[b + k] + offset: each neuron's sum starts just off zero and is stored as a double
// after every addition, each product and addition made in extended precision first, exactly
// as ComputeNeuron does. Independent chains side by side, so that their latencies (multiply,
// add, the rounding store and reload) overlap; the lanes' weights are read at one shared
// index, so that each lane costs one base register and nothing per neuron.
template <int Lanes>
void LayerActivations(const double* const* weights, int32_t offset, int32_t inputCount, int32_t neurons,
                      const TBatchedNetworks::TRows& inputs, int32_t b, TBatchedNetworks::TRows& activations) {
  const double* w[Lanes];
  for (int k = 0; k < Lanes; ++k) w[k] = weights[b + k] + offset;
  for (int32_t n = 0, first = 0; n < neurons; ++n, first += inputCount + 1) {
    double sums[Lanes];
    for (int k = 0; k < Lanes; ++k) sums[k] = 1e-10;
    // Written with a pointer and an index that both step, which keeps every lane's address
    // in registers (an input index instead leaves the compiler spilling per-lane offsets).
    const double* x = inputs[0].data() + b;
    const double* const end = x + static_cast<ptrdiff_t>(inputCount) * TBatchedNetworks::Stride;
    for (ptrdiff_t at = first + 1; x != end; x += TBatchedNetworks::Stride, ++at)
      for (int k = 0; k < Lanes; ++k) sums[k] = static_cast<double>(sums[k] + static_cast<long double>(x[k]) * w[k][at]);
    for (int k = 0; k < Lanes; ++k)
      activations[n][b + k] = static_cast<double>(static_cast<long double>(sums[k]) - w[k][first]);
  }
}

static_assert(TBatchedNetworks::Stride % 4 == 0, "bugs are taken four at a time");

}  // namespace

void TBatchedNetworks::Rebuild(std::span<const TNeuralNet> nets) {
  const size_t count = std::min<size_t>(nets.size(), Stride);
  layers_.clear();
  supported_ = Batchable(nets, count);
  if (!supported_) return;
  for (int32_t k = 0; k < nets[0].NumLayers; ++k)
    layers_.push_back({nets[0].LayerInputs(k), nets[0].LayerSize(k), nets[0].LayerOffset(k)});
  weightCount_ = nets[0].CountWeights();
}

void TBatchedNetworks::Compute(std::span<const TNeuralNet> nets, const TRows& inputs, TRows& outputs,
                               int32_t keptLane, double* kept) const {
  const int32_t count = static_cast<int32_t>(std::min<size_t>(nets.size(), Stride));
  if (count == 0) return;
  // Lanes past the last bug (up to a multiple of four) compute from the first bug's weights
  // and are never read.
  const int32_t groups = (count + 3) / 4 * 4;
  std::array<const double*, Stride> weights;
  for (int32_t b = 0; b < count; ++b) {
    assert(nets[b].CountWeights() == weightCount_ && !nets[b].Step &&
           "a network's shape changed: call TWorld::NetworksChanged");
    weights[b] = nets[b].Weights().data();
  }
  std::fill(weights.begin() + count, weights.begin() + groups, weights[0]);

  // The layers alternate between the scratch rows and the output rows, so that the last
  // one lands in the outputs.
  TRows scratch, activations;
  for (auto& row : scratch) std::fill(row.begin() + count, row.begin() + groups, 0.0);
  const TRows* in = &inputs;
  TRows* out = layers_.size() % 2 == 1 ? &outputs : &scratch;
  // In a large world the weights come from memory: the first layer asks for the next eight
  // bugs' while it runs these eight's.
  const size_t weightBytes = static_cast<size_t>(weightCount_) * sizeof(double);
  for (const TLayer& layer : layers_) {
    int32_t b = 0;
    for (; b + 8 <= groups; b += 8) {
      if (&layer == &layers_.front())
        for (int32_t k = b + 8; k < std::min(b + 16, count); ++k)
          for (size_t at = 0; at < weightBytes; at += 64) __builtin_prefetch(reinterpret_cast<const char*>(weights[k]) + at);
      LayerActivations<8>(weights.data(), layer.Offset, layer.Inputs, layer.Neurons, *in, b, activations);
    }
    if (b < groups) LayerActivations<4>(weights.data(), layer.Offset, layer.Inputs, layer.Neurons, *in, b, activations);
    for (int32_t n = 0; n < layer.Neurons; ++n) SigmoidBatch(activations[n].data(), (*out)[n].data(), count);
    if (kept)
      for (int32_t n = 0; n < layer.Neurons; ++n) *kept++ = (*out)[n][keptLane];
    in = out;
    out = out == &outputs ? &scratch : &outputs;
  }
}

}  // namespace zemlix
