#include "ai/Sigmoid.h"

#include <cmath>

namespace zemlix {

// An extended constant: the double nearest 2.7183 would change many results.
constexpr long double SigmoidBase = 2.7183L;

double SigmoidReference(double Activation, double Response) {
  const long double exponent = -static_cast<long double>(Activation) / Response;
  return static_cast<double>(1.0L / (1.0L + std::pow(SigmoidBase, exponent)));
}

double Sigmoid(double Activation, double Response) { return SigmoidReference(Activation, Response); }

}  // namespace zemlix
