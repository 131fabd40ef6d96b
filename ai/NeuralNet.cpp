#include "ai/NeuralNet.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "ai/Sigmoid.h"

namespace zemlix {

TNeuron::TNeuron(int32_t NumInputs, bool Step, TRandomGenerator& random)
    : Step(Step), NumInputs(NumInputs), Weights(NumInputs + 1) {
  for (double& weight : Weights) weight = random.Random() * 2 - 1;
}

double TNeuron::Compute(const double* inputs) const {
  // The sum starts just off zero and is stored as a double after every addition; each
  // product and addition is made in extended precision first.
  double sum = 1e-10;
  for (int32_t i = 0; i < NumInputs; ++i)
    sum = static_cast<double>(sum + static_cast<long double>(inputs[i]) * Weights[i + 1]);
  if (Step) return sum >= Weights[0] ? 1.0 : 0.0;
  const double activation = static_cast<double>(static_cast<long double>(sum) - Weights[0]);
  return Sigmoid(activation, 1.0);
}

TNeuronLayer::TNeuronLayer(int32_t NumNeurons, int32_t inputsPerNeuron, bool Step,
                           TRandomGenerator& random)
    : NumNeurons(NumNeurons) {
  Neurons.reserve(std::max(NumNeurons, 0));
  for (int32_t i = 0; i < NumNeurons; ++i) Neurons.emplace_back(inputsPerNeuron, Step, random);
}

void TNeuronLayer::Compute(const double* inputs, double* outputs) const {
  for (int32_t i = 0; i < NumNeurons; ++i) outputs[i] = Neurons[i].Compute(inputs);
}

TNeuralNet::TNeuralNet(int32_t NumInputs, const std::vector<int32_t>& LayerSizes, bool Step,
                       TRandomGenerator& random)
    : NumInputs(NumInputs), NumOutputs(0), NumLayers(static_cast<int32_t>(LayerSizes.size())),
      Step(Step) {
  if (LayerSizes.empty() || NumInputs < 0 ||
      std::any_of(LayerSizes.begin(), LayerSizes.end(), [](int32_t s) { return s < 0; }))
    throw std::invalid_argument("TNeuralNet: layer sizes must be one or more counts, none negative");
  NumOutputs = LayerSizes.back();
  Layers.reserve(LayerSizes.size());
  int32_t inputs = NumInputs;
  for (int32_t size : LayerSizes) {
    Layers.emplace_back(size, inputs, Step, random);
    inputs = size;
  }
}

void TNeuralNet::Compute(const TWeightList& inputs, TWeightList& outputs) const {
  if (static_cast<int64_t>(inputs.size()) != NumInputs) return;
  if (static_cast<int64_t>(outputs.size()) < NumOutputs)
    throw std::out_of_range("TNeuralNet.Compute: output list too short");

  // Two working lists, on the stack for the program's small layers.
  int32_t widest = 0;
  for (const TNeuronLayer& layer : Layers) widest = std::max(widest, layer.NumNeurons);
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

  Layers[0].Compute(inputs.data(), current);
  for (int32_t k = 1; k < NumLayers; ++k) {
    Layers[k].Compute(current, next);
    std::swap(current, next);
  }
  for (int32_t j = 0; j < NumOutputs; ++j)
    outputs[j] = Step ? (current[j] > 0.0 ? 1.0 : 0.0) : current[j];
}

int32_t TNeuralNet::CountWeights() const {
  int32_t count = 0;
  for (const TNeuronLayer& layer : Layers)
    for (const TNeuron& neuron : layer.Neurons) count += neuron.NumInputs + 1;
  return count;
}

void TNeuralNet::GetWeights(TWeightList& weights) const {
  if (static_cast<int64_t>(weights.size()) < CountWeights())
    throw std::out_of_range("TNeuralNet.GetWeights: weight list too short");
  auto out = weights.begin();
  for (const TNeuronLayer& layer : Layers)
    for (const TNeuron& neuron : layer.Neurons) out = std::copy(neuron.Weights.begin(), neuron.Weights.end(), out);
}

void TNeuralNet::PutWeights(const TWeightList& weights) {
  if (static_cast<int64_t>(weights.size()) < CountWeights())
    throw std::out_of_range("TNeuralNet.PutWeights: weight list too short");
  auto in = weights.begin();
  for (TNeuronLayer& layer : Layers)
    for (TNeuron& neuron : layer.Neurons) {
      std::copy_n(in, neuron.Weights.size(), neuron.Weights.begin());
      in += neuron.Weights.size();
    }
  ++WeightsVersion;
}

}  // namespace zemlix
