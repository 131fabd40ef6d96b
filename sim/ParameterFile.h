#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "world/Parameters.h"

namespace zemlix {

// Applies a TOML file of top-level `name = value` entries (names from ParameterRegistry) to
// `parameters`. Returns an empty string, or one line naming the file, the line and the
// parameter: "exp.toml:3: mutation_rate must be a real from 0 to 1, not 2". A folder, a
// file over 4 MiB (read no further) and keys, tables or lists nested more than 8 levels
// deep are refused before parsing. Names and texts from the file are escaped in messages.
// `names`, when given, gets the name of every parameter the file sets.
std::string ApplyParameterFile(const std::string& path, TParameters& parameters,
                               std::vector<std::string>* names = nullptr);

// Applies one `name=value` as --set gives it. Returns an empty string or the reason,
// naming the parameter.
std::string ApplyParameterSetting(std::string_view setting, TParameters& parameters,
                                  std::vector<std::string>* names = nullptr);

// Names and texts from a file or the command line as a message may show them: control bytes
// never reach the terminal raw.
std::string Shown(std::string_view text);

// The parameters for --help and the README: one entry per parameter with its default,
// range and meaning.
std::string DescribeParameters();

}  // namespace zemlix
