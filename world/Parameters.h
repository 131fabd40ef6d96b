#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zemlix {

// Every value of the model that an experiment may vary, with the model's own value as the
// default. With all of them at their defaults a run is the model exactly; each replaces a
// constant of the same type, so a default value rounds as the constant did.
struct TParameters {
  double CrossoverRate = 0.7;
  double MutationRate = 0.05;
  double GeneRange = 1.0;               // fresh and mutated weights lie in [-GeneRange, GeneRange)
  std::vector<int32_t> HiddenLayers{6};  // the output layer (2) follows them
  double TurnLimit = 0.3;
  double SpeedCap = 2.0;
  double EatingDistance = 6.0;
  int32_t FieldWidth = 400;
  int32_t FieldHeight = 400;
  int32_t Bugs = 30;
  int32_t Food = 40;
  int32_t Lifetime = 2000;

  bool operator==(const TParameters&) const = default;

  // The network's layer sizes: the hidden layers and the two impulses.
  std::vector<int32_t> LayerSizes() const;
};

// A value as a configuration file or a command line gives it, before its type is checked.
using TParameterValue = std::variant<int64_t, double, std::vector<int64_t>>;

// One entry of the registry: the parameter's name as files and options spell it, its range
// and what it means. Exactly one of the member pointers is set, and tells the type. For a
// list, Minimum and Maximum bound every entry and MaxEntries the length.
struct TParameterInfo {
  const char* Name;
  double Minimum;
  double Maximum;
  const char* Meaning;
  double TParameters::*Real = nullptr;
  int32_t TParameters::*Integer = nullptr;
  std::vector<int32_t> TParameters::*List = nullptr;
  int32_t MaxEntries = 0;
};

// The registry, in the order --help and the README list it.
std::span<const TParameterInfo> ParameterRegistry();
const TParameterInfo* FindParameter(std::string_view name);

// Sets one parameter. Returns an empty string, or why the value was refused ("must be a
// real from 0 to 1, not 2"): the caller adds the name and where the value came from.
// An integer is taken for a real parameter; a real for an integer parameter is refused.
std::string SetParameter(TParameters& parameters, const TParameterInfo& info, const TParameterValue& value);

// Reads a value as --set and the world file write it: an integer, a real, or a list
// "[6,4]" ("6,4" and "[]" too). Returns the reason on failure, as SetParameter does.
std::string SetParameterText(TParameters& parameters, const TParameterInfo& info, std::string_view text);

// The value as text that SetParameterText reads back exactly (reals with %.17g).
std::string FormatParameter(const TParameters& parameters, const TParameterInfo& info);
// The default and the range in words, for --help and the README.
std::string DescribeDefault(const TParameterInfo& info);
std::string DescribeRange(const TParameterInfo& info);

// The parameters whose value differs from the default, as name=value, in registry order.
std::vector<std::string> NonDefaultParameters(const TParameters& parameters);
// The same without the counts and the lifetime, which a world's own state, a title or a
// command line gives apart: what an experiment changed in the model.
std::vector<std::string> ExperimentParameters(TParameters parameters);

}  // namespace zemlix
