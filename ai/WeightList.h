#pragma once

#include <vector>

namespace zemlix {

// A network's inputs and outputs, a neuron's weights, a network's flat weight list and a
// chromosome's genes all share this type. Operations that take one never resize it.
using TWeightList = std::vector<double>;

}  // namespace zemlix
