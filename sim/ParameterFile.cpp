#include "sim/ParameterFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>

namespace zemlix {
namespace {

const char* TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "a list";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a real";
    default: return "a date or time";
  }
}

// The TOML value as the registry takes it, or why it cannot be one.
std::string Apply(const TParameterInfo& info, const toml::node& node, TParameters& parameters) {
  if (const auto* integer = node.as_integer()) return SetParameter(parameters, info, integer->get());
  if (const auto* real = node.as_floating_point()) return SetParameter(parameters, info, real->get());
  if (const auto* array = node.as_array(); array && info.List) {
    std::vector<int64_t> entries;
    for (const toml::node& entry : *array) {
      const auto* integer = entry.as_integer();
      if (!integer) return "must be " + DescribeRange(info) + ", not a list holding " + TypeName(entry);
      entries.push_back(integer->get());
    }
    return SetParameter(parameters, info, entries);
  }
  return "must be " + DescribeRange(info) + ", not " + TypeName(node);
}

}  // namespace

std::string ApplyParameterFile(const std::string& path, TParameters& parameters, std::vector<std::string>* names) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot open the file: " + std::strerror(errno);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return path + ": cannot read the file";
  toml::table table;
  try {
    table = toml::parse(text.str(), path);
  } catch (const toml::parse_error& e) {
    return path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
  }
  for (const auto& [key, node] : table) {
    const std::string where = path + ":" + std::to_string(node.source().begin.line) + ": ";
    const TParameterInfo* info = FindParameter(key.str());
    if (!info) return where + "unknown parameter '" + std::string(key.str()) + "'";
    const std::string reason = Apply(*info, node, parameters);
    if (!reason.empty()) return where + std::string(key.str()) + " " + reason;
    if (names) names->emplace_back(key.str());
  }
  return {};
}

std::string ApplyParameterSetting(std::string_view setting, TParameters& parameters, std::vector<std::string>* names) {
  const size_t equals = setting.find('=');
  if (equals == std::string_view::npos) return std::string(setting) + " is not name=value";
  const std::string name(setting.substr(0, equals));
  const TParameterInfo* info = FindParameter(name);
  if (!info) return "unknown parameter '" + name + "'";
  const std::string reason = SetParameterText(parameters, *info, setting.substr(equals + 1));
  if (!reason.empty()) return name + " " + reason;
  if (names) names->push_back(name);
  return {};
}

std::string DescribeParameters() {
  std::string text;
  for (const TParameterInfo& info : ParameterRegistry())
    text += "  " + std::string(info.Name) + " (default " + DescribeDefault(info) + "; " + DescribeRange(info) +
            ")\n      " + info.Meaning + "\n";
  return text;
}

}  // namespace zemlix
