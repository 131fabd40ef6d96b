#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace zemlix {

struct TRunnerOptions {
  uint32_t Seed = 0;          // the clock's seed when not given
  int32_t Bugs = 30;
  int32_t Food = 40;
  int32_t Lifetime = 2000;
  uint64_t Ticks = 0;         // one generation (the lifetime) when not given
  std::string DumpPath;       // empty: no dump; "-": standard output
  uint64_t DumpEvery = 0;     // 0: only after the last tick
  bool RecordIO = false;
};

// Parses the command line. Returns the options, or the exit status when the program must
// stop now: 0 after --help, 2 after an error (one line on `error` naming the option and
// its allowed range).
struct TParseResult {
  std::optional<TRunnerOptions> Options;
  int ExitStatus = 0;
};
TParseResult ParseRunnerOptions(int argc, const char* const argv[], std::ostream& out, std::ostream& error);

}  // namespace zemlix
