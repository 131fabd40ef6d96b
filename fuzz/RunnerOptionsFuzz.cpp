// The runner's command line: any argument vector ends in options that keep every promise
// made by TRunnerOptions, or in an exit status with a message; nothing may escape as an
// exception or crash.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "sim/RunnerOptions.h"
#include "world/Settings.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "ParseRunnerOptions: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

// The input is the arguments after the program's name, separated by NUL bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"zemlix-sim"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) arguments.push_back(current);
  if (arguments.size() > 24) return 0;
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());

  std::ostringstream out;
  std::ostringstream error;
  const zemlix::TParseResult result =
      zemlix::ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), out, error);

  if (!result.Options) {
    if (result.ExitStatus == 0 && out.str().empty()) Fail("stopped with status 0 but printed no help", error.str());
    if (result.ExitStatus == 2 && (error.str().empty() || error.str().back() != '\n'))
      Fail("an error without its message line", error.str());
    if (result.ExitStatus != 0 && result.ExitStatus != 2) Fail("an exit status other than 0 or 2", error.str());
    return 0;
  }
  const zemlix::TRunnerOptions& options = *result.Options;
  if (!error.str().empty()) Fail("options given, yet an error printed", error.str());
  // The runner's counts reach the parameters' limits, beyond the window's boxes.
  const auto withinParameter = [](int32_t value, const char* name) {
    const zemlix::TParameterInfo& info = *zemlix::FindParameter(name);
    return value >= info.Minimum && value <= info.Maximum;
  };
  if (!withinParameter(options.Bugs, "bugs") || !withinParameter(options.Food, "food") ||
      !withinParameter(options.Lifetime, "lifetime"))
    Fail("a starting condition outside its range", std::to_string(options.Bugs) + " " +
                                                        std::to_string(options.Food) + " " +
                                                        std::to_string(options.Lifetime));
  if (options.Jobs < 1 || options.Jobs > 1024) Fail("jobs outside 1 to 1024", std::to_string(options.Jobs));
  if (options.DumpEvery > 0 && options.DumpPath.empty()) Fail("--dump-every without --dump", "");
  if (options.Ticks && options.Generations > 0) Fail("both --ticks and --generations", "");
  if (options.Seeds) {
    if (options.Seeds->First > options.Seeds->Last) Fail("a seed range backwards", "");
    if (options.CsvPath.empty()) Fail("a batch without --csv", "");
    if (!options.LoadPath.empty()) Fail("a batch with --load", "");
  }
  if ((options.DumpPath == "-") + (options.CsvPath == "-") + (options.PlotPath == "-") > 1)
    Fail("two outputs on standard output", "");
  return 0;
}
