#pragma once

#include <string>
#include <vector>

#include "world/World.h"

namespace zemlix {

// Average and best fitness against generation as a self-contained SVG picture: axes with
// ticks and labels, a legend, and `title` above the plot. Draws a point mark as well when
// there is a single generation, and says so when there is none.
std::string FormatFitnessPlot(const std::vector<TGenerationReport>& generations, const std::string& title);

// The plot's curve colours, which the window's chart shares.
inline constexpr const char* AverageColour = "#1f77b4";
inline constexpr const char* BestColour = "#d62728";

// A round step (1, 2 or 5 times a power of ten) that cuts `span` into about `parts`, at
// least `smallest`.
double NiceStep(double span, int parts, double smallest);

// One grid point of a sweep: per generation from 1, the mean average fitness across the
// seeds and its confidence interval (Low and High may be empty: no band).
struct TPlotSeries {
  std::string Name;  // the legend's entry, "mutation_rate=0.2"
  std::vector<double> Mean, Low, High;
};

// One line per series with its interval as a shaded band, a legend naming the series,
// axes and `title`, as a self-contained SVG picture.
std::string FormatSweepPlot(const std::vector<TPlotSeries>& series, const std::string& title);

// The text with &, <, >, " and ' written as XML entities, and every byte that is not part of
// a character XML allows (a control byte, broken UTF-8) replaced by U+FFFD.
std::string EscapeXml(const std::string& text);

}  // namespace zemlix
