#include "world/BatchedNetworks.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "ai/SigmoidBatch.h"

namespace zemlix {
namespace {

bool Batchable(std::span<const TNeuralNet> nets, size_t count) {
  if (count == 0) return false;
  const TNeuralNet& first = nets[0];
  if (first.NumInputs != TBatchedNetworks::NumInputs || first.Step) return false;
  for (const TNeuronLayer& layer : first.Layers)
    if (layer.NumNeurons > TBatchedNetworks::MaxWidth || layer.NumNeurons <= 0) return false;
  for (size_t b = 0; b < count; ++b) {
    const TNeuralNet& net = nets[b];
    if (net.Step || net.NumInputs != first.NumInputs || net.NumLayers != first.NumLayers) return false;
    for (int32_t k = 0; k < net.NumLayers; ++k) {
      const TNeuronLayer& layer = net.Layers[k];
      if (layer.NumNeurons != first.Layers[k].NumNeurons) return false;
      const int32_t inputs = k == 0 ? net.NumInputs : net.Layers[k - 1].NumNeurons;
      for (const TNeuron& neuron : layer.Neurons)
        if (neuron.Step || neuron.NumInputs != inputs || static_cast<int32_t>(neuron.Weights.size()) != inputs + 1)
          return false;
    }
  }
  return true;
}

// One neuron's activation for bugs b..b+Lanes-1: the sum starts just off zero and is stored
// as a double after every addition, each product and addition made in extended precision
// first, exactly as TNeuron::Compute does. Independent chains side by side, so that their
// latencies (multiply, add, the rounding store and reload) overlap.
template <int Lanes>
void Activations(const double* weights, const TBatchedNetworks::TRows& inputs, int32_t count, int32_t b,
                 double* activations) {
  constexpr int32_t S = TBatchedNetworks::Stride;
  double sums[Lanes];
  for (int k = 0; k < Lanes; ++k) sums[k] = 1e-10;
  for (int32_t i = 0; i < count; ++i) {
    const double* w = weights + (i + 1) * S + b;
    const double* x = inputs[i].data() + b;
    for (int k = 0; k < Lanes; ++k) sums[k] = static_cast<double>(sums[k] + static_cast<long double>(x[k]) * w[k]);
  }
  const double* threshold = weights + b;
  for (int k = 0; k < Lanes; ++k)
    activations[b + k] = static_cast<double>(static_cast<long double>(sums[k]) - threshold[k]);
}

static_assert(TBatchedNetworks::Stride % 4 == 0, "bugs are taken four at a time");

}  // namespace

void TBatchedNetworks::Rebuild(std::span<const TNeuralNet> nets) {
  const size_t count = std::min<size_t>(nets.size(), Stride);
  versions_.clear();
  layers_.clear();
  supported_ = Batchable(nets, count);
  if (!supported_) return;
  for (size_t b = 0; b < count; ++b) versions_.push_back(nets[b].WeightsVersion);
  for (int32_t k = 0; k < nets[0].NumLayers; ++k) {
    TLayer layer;
    layer.Neurons = nets[0].Layers[k].NumNeurons;
    layer.Inputs = k == 0 ? nets[0].NumInputs : nets[0].Layers[k - 1].NumNeurons;
    layer.Weights.assign(static_cast<size_t>(layer.Neurons) * (layer.Inputs + 1) * Stride, 0.0);
    for (size_t b = 0; b < count; ++b)
      for (int32_t n = 0; n < layer.Neurons; ++n) {
        const TWeightList& weights = nets[b].Layers[k].Neurons[n].Weights;
        for (int32_t i = 0; i <= layer.Inputs; ++i) layer.Weights[(n * (layer.Inputs + 1) + i) * Stride + b] = weights[i];
      }
    layers_.push_back(std::move(layer));
  }
}

bool TBatchedNetworks::Current(std::span<const TNeuralNet> nets) const {
  const size_t count = std::min<size_t>(nets.size(), Stride);
  if (!supported_ || versions_.size() != count) return false;
  for (size_t b = 0; b < count; ++b)
    if (nets[b].WeightsVersion != versions_[b]) return false;
  assert(SameWeights(nets) && "a network changed without PutWeights: call TWorld::NetworksChanged");
  return true;
}

bool TBatchedNetworks::SameWeights(std::span<const TNeuralNet> nets) const {
  for (size_t k = 0; k < layers_.size(); ++k) {
    const TLayer& layer = layers_[k];
    for (size_t b = 0; b < versions_.size(); ++b)
      for (int32_t n = 0; n < layer.Neurons; ++n) {
        const TNeuron& neuron = nets[b].Layers[k].Neurons[n];
        if (neuron.Step) return false;
        for (int32_t i = 0; i <= layer.Inputs; ++i)
          if (layer.Weights[(n * (layer.Inputs + 1) + i) * Stride + b] != neuron.Weights[i]) return false;
      }
  }
  return true;
}

void TBatchedNetworks::Compute(int32_t count, const TRows& inputs, TRows& outputs) {
  const TRows* in = &inputs;
  // The layers alternate between the scratch rows and the output rows, so that the last
  // one lands in the outputs.
  TRows* out = layers_.size() % 2 == 1 ? &outputs : &scratch_;
  const int32_t groups = (count + 3) / 4 * 4;
  for (const TLayer& layer : layers_) {
    for (int32_t n = 0; n < layer.Neurons; ++n) {
      const double* weights = layer.Weights.data() + static_cast<size_t>(n) * (layer.Inputs + 1) * Stride;
      int32_t b = 0;
      for (; b + 8 <= groups; b += 8) Activations<8>(weights, *in, layer.Inputs, b, activations_.data());
      if (b < groups) Activations<4>(weights, *in, layer.Inputs, b, activations_.data());
      SigmoidBatch(activations_.data(), (*out)[n].data(), count);
    }
    in = out;
    out = out == &outputs ? &scratch_ : &outputs;
  }
}

}  // namespace zemlix
