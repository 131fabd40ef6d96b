#pragma once

#include <string>

namespace zemlix {

// A real in fixed notation: the exact decimal value of the double is rounded half up, once,
// to at most `precision` significant digits and at most `decimals` decimals, whichever is
// tighter. While the rounded value has no more than `precision` integer digits the text is
// fixed ("3.50", "0.70710678"), otherwise scientific ("1.2E2", "1E2"). A negative value that
// rounds to zero carries no minus sign. The decimal separator is a point.
std::string FormatFixed(double value, int precision, int decimals);

}  // namespace zemlix
