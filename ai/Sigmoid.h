#pragma once

namespace zemlix {

// 1 / (1 + 2.7183^(-Activation / Response)), computed in extended precision and rounded
// to double once. The base is the constant 2.7183, not e.
double Sigmoid(double Activation, double Response);

// The same function evaluated the straightforward way with the C library's powl: the
// definition that Sigmoid must match bit for bit.
double SigmoidReference(double Activation, double Response);

}  // namespace zemlix
