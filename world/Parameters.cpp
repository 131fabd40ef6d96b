#include "world/Parameters.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zemlix {
namespace {

// The runner's limits; the window keeps its own, narrower ones (Settings.h).
const TParameterInfo Registry[] = {
    {"crossover_rate", 0, 1, "probability that a child is a one-point crossover of its parents rather than a copy of the fitter one",
     &TParameters::CrossoverRate},
    {"mutation_rate", 0, 1, "probability that breeding replaces a gene by a fresh one", &TParameters::MutationRate},
    {"gene_range", 0.001, 1000, "fresh weights (at the start and by mutation) are drawn from [-gene_range, gene_range)",
     &TParameters::GeneRange},
    {"hidden_layers", 1, 64, "sizes of the hidden layers, a list of up to 4 (the output layer of 2 follows)", nullptr,
     nullptr, &TParameters::HiddenLayers, 4},
    {"turn_limit", 0, 3, "largest turn of a bug in one tick, in radians", &TParameters::TurnLimit},
    {"speed_cap", 0, 2, "largest distance a bug moves in one tick (its two impulses sum to at most 2)",
     &TParameters::SpeedCap},
    {"eating_distance", 0, 100, "a bug eats every pellet closer than this", &TParameters::EatingDistance},
    {"field_width", 50, 20000, "width of the field; bugs leaving it come back on the other side", nullptr,
     &TParameters::FieldWidth},
    {"field_height", 50, 20000, "height of the field", nullptr, &TParameters::FieldHeight},
    {"bugs", 5, 100000, "number of bugs", nullptr, &TParameters::Bugs},
    {"food", 5, 100000, "number of food pellets", nullptr, &TParameters::Food},
    {"lifetime", 500, 10000, "ticks per generation", nullptr, &TParameters::Lifetime},
};

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Short forms for the help and the error messages: 0.05 rather than 0.050000000000000003.
std::string Short(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string TypeAndRange(const TParameterInfo& info) {
  if (info.Real) return "a real from " + Short(info.Minimum) + " to " + Short(info.Maximum);
  if (info.Integer) return "an integer from " + Short(info.Minimum) + " to " + Short(info.Maximum);
  return "a list of up to " + std::to_string(info.MaxEntries) + " integers from " + Short(info.Minimum) + " to " +
         Short(info.Maximum);
}

// A real as a refusal shows it: the shortest text that reads back to it, with a point or an
// exponent, so that 1.0000001 is not shown as 1 and 1000.0 not as the integer 1000.
std::string RealText(double value) {
  char text[40];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  std::string shown(text, error == std::errc() ? end : text);
  if (std::isfinite(value) && shown.find_first_of(".e") == std::string::npos) shown += ".0";
  return shown;
}

std::string ValueText(const TParameterValue& value) {
  if (const auto* integer = std::get_if<int64_t>(&value)) return std::to_string(*integer);
  if (const auto* real = std::get_if<double>(&value)) return RealText(*real);
  std::string text = "[";
  for (int64_t entry : std::get<std::vector<int64_t>>(value)) {
    if (text.size() > 1) text += ',';
    text += std::to_string(entry);
  }
  return text + "]";
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

std::vector<int32_t> TParameters::LayerSizes() const {
  std::vector<int32_t> sizes = HiddenLayers;
  sizes.push_back(2);
  return sizes;
}

std::span<const TParameterInfo> ParameterRegistry() { return Registry; }

const TParameterInfo* FindParameter(std::string_view name) {
  for (const TParameterInfo& info : Registry)
    if (name == info.Name) return &info;
  return nullptr;
}

std::string SetParameter(TParameters& parameters, const TParameterInfo& info, const TParameterValue& value) {
  const std::string refused = "must be " + TypeAndRange(info) + ", not " + ValueText(value);
  const auto inRange = [&info](double v) { return v >= info.Minimum && v <= info.Maximum; };
  if (info.Real) {
    double real = 0;
    if (const auto* integer = std::get_if<int64_t>(&value))
      real = static_cast<double>(*integer);
    else if (const auto* given = std::get_if<double>(&value))
      real = *given;
    else
      return refused;
    if (!std::isfinite(real) || !inRange(real)) return refused;
    parameters.*info.Real = real;
    return {};
  }
  if (info.Integer) {
    const auto* integer = std::get_if<int64_t>(&value);
    if (!integer || !inRange(static_cast<double>(*integer))) return refused;
    parameters.*info.Integer = static_cast<int32_t>(*integer);
    return {};
  }
  const auto* list = std::get_if<std::vector<int64_t>>(&value);
  if (!list || static_cast<int64_t>(list->size()) > info.MaxEntries) return refused;
  std::vector<int32_t> entries;
  for (int64_t entry : *list) {
    if (!inRange(static_cast<double>(entry))) return refused;
    entries.push_back(static_cast<int32_t>(entry));
  }
  parameters.*info.List = std::move(entries);
  return {};
}

std::string SetParameterText(TParameters& parameters, const TParameterInfo& info, std::string_view text) {
  const std::string refused = "must be " + TypeAndRange(info) + ", not '" + std::string(text) + "'";
  if (info.List) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    std::vector<int64_t> entries;
    while (!text.empty()) {
      const size_t comma = text.find(',');
      int64_t entry = 0;
      if (!ParseNumber(text.substr(0, comma), entry)) return refused;
      entries.push_back(entry);
      if (comma == std::string_view::npos) break;
      text.remove_prefix(comma + 1);
      if (text.empty()) return refused;
    }
    const std::string reason = SetParameter(parameters, info, entries);
    return reason.empty() ? reason : refused;
  }
  int64_t integer = 0;
  double real = 0;
  std::string reason;
  if (ParseNumber(text, integer))
    reason = SetParameter(parameters, info, integer);
  else if (info.Real && ParseNumber(text, real))
    reason = SetParameter(parameters, info, real);
  else
    return refused;
  return reason.empty() ? reason : refused;
}

std::string FormatParameter(const TParameters& parameters, const TParameterInfo& info) {
  if (info.Real) return Number(parameters.*info.Real);
  if (info.Integer) return std::to_string(parameters.*info.Integer);
  std::string text = "[";
  for (int32_t entry : parameters.*info.List) {
    if (text.size() > 1) text += ',';
    text += std::to_string(entry);
  }
  return text + "]";
}

std::string DescribeDefault(const TParameterInfo& info) {
  const TParameters defaults;
  if (info.Real) return Short(defaults.*info.Real);
  return FormatParameter(defaults, info);
}

std::string DescribeRange(const TParameterInfo& info) { return TypeAndRange(info); }

std::vector<std::string> NonDefaultParameters(const TParameters& parameters) {
  const TParameters defaults;
  std::vector<std::string> changed;
  for (const TParameterInfo& info : Registry)
    if (FormatParameter(parameters, info) != FormatParameter(defaults, info))
      changed.push_back(std::string(info.Name) + "=" + FormatParameter(parameters, info));
  return changed;
}

std::vector<std::string> ExperimentParameters(TParameters parameters) {
  const TParameters defaults;
  parameters.Bugs = defaults.Bugs;
  parameters.Food = defaults.Food;
  parameters.Lifetime = defaults.Lifetime;
  return NonDefaultParameters(parameters);
}

}  // namespace zemlix
