#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "world/Parameters.h"

namespace zemlix {

// An inclusive range of seeds for a batch, First <= Last.
struct TSeedRange {
  uint32_t First = 0;
  uint32_t Last = 0;
  uint64_t Count() const { return uint64_t{Last} - First + 1; }
};

// One swept parameter and its values, as given (each checked against the registry).
struct TSweepAxis {
  std::string Name;
  std::vector<std::string> Values;
};

// "--sweep NAME=V1,V2,...": the values, split at commas outside brackets so that lists of
// hidden layers can be swept, each checked against the registry and given once (also when
// only their parsed values are equal, as 0.1 and 0.10 are), the name not among `earlier`.
// Returns "" or the message, which begins "--sweep".
std::string ParseSweep(const std::string& sweep, const std::vector<TSweepAxis>& earlier, TSweepAxis& axis);

struct TRunnerOptions {
  std::string Program = "zemlix-sim";  // the program's name, which begins every message
  uint32_t Seed = 0;          // the clock's seed when not given
  int32_t Bugs = 30;
  int32_t Food = 40;
  int32_t Lifetime = 2000;
  // Every parameter, Bugs, Food and Lifetime included (the same as above), and the names
  // that --config and --set gave.
  TParameters Parameters;
  std::vector<std::string> GivenParameters;
  // How long to run: Generations > 0 runs until that many more generations have ended;
  // otherwise Ticks more ticks, one generation (the lifetime) when empty.
  std::optional<uint64_t> Ticks;
  uint64_t Generations = 0;
  std::string DumpPath;       // empty: no dump; "-": standard output
  uint64_t DumpEvery = 0;     // 0: only after the last tick
  bool RecordIO = false;
  std::string CsvPath;        // one row per generation end; "-": standard output
  std::string PlotPath;       // SVG of average and best fitness; "-": standard output
  std::string LineagePath;    // one row per child per generation end; "-": standard output
  std::string LoadPath;       // continue from this dump instead of building a population
  std::string BrainPath;      // SVG of one bug's network after the last tick; "-": standard output
  int32_t BrainBug = 0;       // the bug --brain draws
  std::optional<TSeedRange> Seeds;  // a batch: one independent world per seed
  std::vector<TSweepAxis> Sweep;    // a batch over the product of these values, every seed each
  std::string SummaryPath;          // a batch's mean, spread and interval per grid point and generation
  unsigned Jobs = 1;          // threads for a batch
  unsigned Threads = 1;       // threads inside one world's tick (large worlds only)
  std::string JournalPath;    // a batch's finished items, kept across runs; empty: none
  bool Quiet = false;         // no speed summary, no progress bar
  bool Profile = false;       // after the run, where the ticks' time went (one world only)
  bool Progress = false;      // draw a progress bar on the error stream (a terminal)
  bool DryRun = false;        // say what would run and its memory estimate, run nothing
};

// Parses the command line. Returns the options, or the exit status when the program must
// stop now: 0 after --help or --version (1 when standard output failed), 2 after an error
// (one line on `error` naming the option and its allowed range). Progress is left false:
// whether the error stream is a terminal is the caller's business.
struct TParseResult {
  std::optional<TRunnerOptions> Options;
  int ExitStatus = 0;
};
// Flushes what was written to standard output; when that fails, says so on `error` with the
// system's reason (`failure`, an errno value, or errno itself when 0) and returns 1, else 0.
// Data lost on the way is a failure, not a success.
int FinishStandardOutput(std::ostream& out, std::ostream& error, int failure = 0,
                         const std::string& program = "zemlix-sim");

// Why --brain-bug `bug` is refused for a world of `bugs` bugs (bug >= bugs).
std::string BrainBugRefusal(int32_t bug, int32_t bugs);

// `program` names the program in --help, --version and every message (zemlix-sim-mpi takes
// the same options).
TParseResult ParseRunnerOptions(int argc, const char* const argv[], std::ostream& out, std::ostream& error,
                                const std::string& program = "zemlix-sim");

}  // namespace zemlix
