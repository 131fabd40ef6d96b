#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/RunnerOptions.h"
#include "world/Parameters.h"

// Python values checked and turned into the core's, with the runner's messages. Each
// function raises a Python exception (ValueError, TypeError) for what it refuses.
namespace zemlix {

// `base` with every name=value of `values` set: an unknown name, a value of the wrong type
// or out of range raises ValueError "speed_cap must be a real from 0 to 2, not 3.0". The
// names set are appended to `given` when it is not null.
TParameters ParametersFrom(const pybind11::dict& values, TParameters base, std::vector<std::string>* given);
// Every parameter's value: reals as float, integers as int, lists as list.
pybind11::dict ParametersDict(const TParameters& parameters);
// The registry as the module's help lists it, a line per parameter.
std::string ParameterHelp();

// A seed, 0 to 4294967295.
uint32_t SeedFrom(const pybind11::handle& seed);
// Consecutive seeds: a range with step 1, a list or tuple of consecutive seeds, or one seed.
TSeedRange SeedRangeFrom(const pybind11::handle& seeds);
// "name=v1,v2" for ParseSweep: reals as Python writes them (0.05, the shortest text that
// reads back), integers, lists as [6,4].
std::string SweepText(const pybind11::handle& name, const pybind11::handle& values);

// A network's weights: a one-dimensional float64 or float32 array, or a sequence of reals,
// of exactly `length` finite values.
std::vector<double> WeightsFrom(const pybind11::handle& weights, size_t length);

// A CSV cell as the number it holds (int or float, "nan" included), else the text.
pybind11::object CsvCell(const std::string& cell);

}  // namespace zemlix
