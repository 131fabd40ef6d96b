#include <algorithm>

#include "world/World.h"

namespace zemlix {

// The update that senses bug b is the only one touching these (one block, one thread).
double* TWorld::KeepInputs(int32_t b, const double* inputs) {
  const TNeuralNet& net = Nets[b];
  size_t size = static_cast<size_t>(net.NumInputs);
  for (int32_t k = 0; k < net.NumLayers; ++k) size += static_cast<size_t>(net.LayerSize(k));
  KeptActivations.resize(size);
  std::copy(inputs, inputs + net.NumInputs, KeptActivations.begin());
  KeptActivationsBug = b;
  return KeptActivations.data() + net.NumInputs;
}

}  // namespace zemlix
