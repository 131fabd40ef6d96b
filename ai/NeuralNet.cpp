#include "ai/NeuralNet.h"

#include <algorithm>
#include <stdexcept>

#include "ai/Sigmoid.h"

namespace zemlix {

double ComputeNeuron(const double* weights, const double* inputs, int32_t numInputs, bool step) {
  double sum = 1e-10;
  for (int32_t i = 0; i < numInputs; ++i)
    sum = static_cast<double>(sum + static_cast<long double>(inputs[i]) * weights[i + 1]);
  if (step) return sum >= weights[0] ? 1.0 : 0.0;
  const double activation = static_cast<double>(static_cast<long double>(sum) - weights[0]);
  return Sigmoid(activation, 1.0);
}

TNeuralNet::TNeuralNet(int32_t NumInputs, const std::vector<int32_t>& LayerSizes, bool Step,
                       TRandomGenerator& random)
    : NumInputs(NumInputs), NumOutputs(0), NumLayers(static_cast<int32_t>(LayerSizes.size())),
      Step(Step) {
  if (LayerSizes.empty() || LayerSizes.size() > MaxLayers || NumInputs < 0 ||
      std::any_of(LayerSizes.begin(), LayerSizes.end(), [](int32_t s) { return s < 0; }))
    throw std::invalid_argument("TNeuralNet: layer sizes must be one to eight counts, none negative");
  NumOutputs = LayerSizes.back();
  std::copy(LayerSizes.begin(), LayerSizes.end(), LayerSizes_.begin());
  Weights_.resize(LayerOffset(NumLayers));
  for (double& weight : Weights_) weight = random.Random() * 2 - 1;
}

int32_t TNeuralNet::LayerOffset(int32_t k) const {
  int32_t offset = 0;
  for (int32_t j = 0; j < k; ++j) offset += LayerSizes_[j] * (LayerInputs(j) + 1);
  return offset;
}

void TNeuralNet::Compute(const TWeightList& inputs, TWeightList& outputs, double* activations) const {
  if (static_cast<int64_t>(inputs.size()) != NumInputs) return;
  if (static_cast<int64_t>(outputs.size()) < NumOutputs)
    throw std::out_of_range("TNeuralNet.Compute: output list too short");

  // Two working lists, on the stack for the program's small layers.
  const int32_t widest = *std::max_element(LayerSizes_.begin(), LayerSizes_.begin() + NumLayers);
  std::array<double, 64> stackCurrent, stackNext;
  std::vector<double> heapCurrent, heapNext;
  double* current = stackCurrent.data();
  double* next = stackNext.data();
  if (widest > static_cast<int32_t>(stackCurrent.size())) {
    heapCurrent.resize(widest);
    heapNext.resize(widest);
    current = heapCurrent.data();
    next = heapNext.data();
  }

  const double* layerInputs = inputs.data();
  const double* weights = Weights_.data();
  for (int32_t k = 0; k < NumLayers; ++k) {
    const int32_t count = LayerInputs(k);
    for (int32_t n = 0; n < LayerSizes_[k]; ++n, weights += count + 1)
      next[n] = ComputeNeuron(weights, layerInputs, count, Step);
    if (activations) activations = std::copy(next, next + LayerSizes_[k], activations);
    std::swap(current, next);
    layerInputs = current;
  }
  for (int32_t j = 0; j < NumOutputs; ++j)
    outputs[j] = Step ? (current[j] > 0.0 ? 1.0 : 0.0) : current[j];
}

void TNeuralNet::GetWeights(std::span<double> weights) const {
  if (weights.size() < Weights_.size())
    throw std::out_of_range("TNeuralNet.GetWeights: weight list too short");
  std::copy(Weights_.begin(), Weights_.end(), weights.begin());
}

void TNeuralNet::PutWeights(std::span<const double> weights) {
  if (weights.size() < Weights_.size())
    throw std::out_of_range("TNeuralNet.PutWeights: weight list too short");
  std::copy_n(weights.begin(), Weights_.size(), Weights_.begin());
}

}  // namespace zemlix
