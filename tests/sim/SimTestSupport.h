#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Runner.h"
#include "tests/support/Scratch.h"
#include "sim/RunnerOptions.h"

namespace zemlix::testing {

struct TRunResult {
  int Status = -1;
  std::string Out;
  std::string Error;
};

// Parses the arguments as the program does and runs them; a parse failure's status and
// message come back as they are.
inline TRunResult RunSim(std::vector<std::string> args) {
  std::vector<const char*> argv{"zemlix-sim"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, error;
  TRunResult result;
  const TParseResult parsed = ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), out, error);
  result.Status = parsed.Options ? RunHeadless(*parsed.Options, out, error) : parsed.ExitStatus;
  result.Out = out.str();
  result.Error = error.str();
  return result;
}

// The text with every "check" line removed, as a hand-edited world file would be.
inline std::string WithoutChecksums(std::string text) {
  for (size_t at = text.find("check "); at != std::string::npos; at = text.find("check ", at))
    if (at == 0 || text[at - 1] == '\n')
      text.erase(at, text.find('\n', at) + 1 - at);
    else
      ++at;
  return text;
}

}  // namespace zemlix::testing
