#pragma once

#include <string>
#include <vector>

#include "world/World.h"

namespace zemlix {

// Average and best fitness against generation as a self-contained SVG picture: axes with
// ticks and labels, a legend, and `title` above the plot. Draws a point mark as well when
// there is a single generation, and says so when there is none.
std::string FormatFitnessPlot(const std::vector<TGenerationReport>& generations, const std::string& title);

// The text with &, <, >, " and ' written as XML entities.
std::string EscapeXml(const std::string& text);

}  // namespace zemlix
