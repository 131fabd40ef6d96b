#pragma once

namespace zemlix {

// The fast path of Sigmoid(activation, 1.0). Returns true and sets `result` to exactly
// SigmoidReference(activation, 1.0) when its error bound proves which double that is;
// returns false (result untouched) when the bound cannot decide or |activation| > 32.
bool SigmoidFast(double activation, double& result);

// 2.7183^x for |x| <= 32, within 0.6 units in the last place of the exact power.
long double PowerOfBase(double x);

}  // namespace zemlix
