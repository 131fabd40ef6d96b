#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "tests/sim/SimTestSupport.h"
#include "sim/Sweep.h"

namespace zemlix {
namespace {

using testing::RunSim;
using testing::TScratchDirectory;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
// The sanitizers' shadow memory and quarantine change the resident size and reserve more
// address space than any limit a test can set.
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

struct TProgramRun {
  int Status = -1;
  std::string Out, Error;
  uint64_t PeakBytes = 0;  // the child's peak resident size
};

// Runs the real program with its output in `logs`, under an address-space limit when
// `limit` is not 0.
TProgramRun RunProgram(std::vector<std::string> args, const TScratchDirectory& logs, uint64_t limit = 0) {
  const std::string out = logs / "stdout", error = logs / "stderr";
  const pid_t child = ::fork();
  if (child == 0) {
    if (limit != 0) {
      const rlimit bound{limit, limit};
      ::setrlimit(RLIMIT_AS, &bound);
    }
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    ::dup2(::open(error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(ZEMLIX_SIM_PATH)};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(ZEMLIX_SIM_PATH, argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  TProgramRun run;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.Out = testing::ReadFile(out);
  run.Error = testing::ReadFile(error);
  run.PeakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
  return run;
}

// "memory: about 2.29 GB needed" -> 2.29e9.
double EstimateIn(const std::string& dryRun) {
  const size_t at = dryRun.find("memory: about ");
  if (at == std::string::npos) return 0;
  std::istringstream words(dryRun.substr(at + 14));
  double value = 0;
  std::string unit;
  words >> value >> unit;
  return value * (unit == "GB" ? 1e9 : unit == "MB" ? 1e6 : unit == "KB" ? 1e3 : 1);
}

// The estimate --dry-run gives against the peak resident size of the same run: never below
// it, and at most a quarter above. Shapes large enough that the program's own few
// megabytes do not decide it: wide networks, huge sparse and crowded worlds, a tick shared
// by threads, a dump's text.
TEST(RunnerLimits, TheMemoryEstimateIsWithinAQuarterAboveTheMeasuredPeak) {
  if (Sanitized) GTEST_SKIP() << "resident sizes under the sanitizers are not the program's";
  const std::vector<std::vector<std::string>> shapes = {
      {"--bugs", "2000", "--food", "5", "--set", "hidden_layers=[64,64,64,64]", "--threads", "1"},
      {"--bugs", "600", "--food", "5", "--set", "hidden_layers=[32,32]", "--threads", "1", "--lifetime", "500",
       "--ticks", "501"},  // a generation end, whose breeding keeps genomes apart
      {"--bugs", "100000", "--food", "100000", "--set", "field_width=20000", "--set", "field_height=20000",
       "--threads", "2"},
      {"--bugs", "20000", "--food", "20000", "--threads", "1"},  // about 14 pellets within each bug's reach
      {"--bugs", "300", "--food", "5", "--set", "hidden_layers=[64,64,64,64]", "--threads", "1", "--dump", "DUMP"},
  };
  for (std::vector<std::string> shape : shapes) {
    TScratchDirectory dir, logs;
    for (std::string& arg : shape)
      if (arg == "DUMP") arg = dir / "world.dump";
    std::string text;
    for (const std::string& arg : shape) text += arg + " ";
    SCOPED_TRACE(text);
    std::vector<std::string> args = shape;
    args.insert(args.end(), {"--seed", "5", "--quiet"});
    if (std::find(args.begin(), args.end(), "--ticks") == args.end()) args.insert(args.end(), {"--ticks", "1"});
    if (std::find(args.begin(), args.end(), "--dump") == args.end()) args.insert(args.end(), {"--csv", dir / "run.csv"});
    std::vector<std::string> dry = args;
    dry.push_back("--dry-run");
    const TProgramRun estimate = RunProgram(dry, logs);
    ASSERT_EQ(estimate.Status, 0) << estimate.Error;
    EXPECT_TRUE(dir.Names().empty()) << "a dry run wrote a file";
    const TProgramRun run = RunProgram(args, logs);
    ASSERT_EQ(run.Status, 0) << run.Error;
    const double estimated = EstimateIn(estimate.Out);
    const double measured = static_cast<double>(run.PeakBytes);
    EXPECT_GE(estimated, measured) << estimate.Out;
    EXPECT_LE(estimated, 1.25 * measured) << estimate.Out << "measured " << measured;
  }
}

TEST(RunnerLimits, MemAvailableIsReadInBytesAndItsAbsenceIsNoFigure) {
  const struct {
    const char* Text;
    std::optional<uint64_t> Bytes;
  } cases[] = {
      {"MemTotal:       24576000 kB\nMemFree:         1000 kB\nMemAvailable:   20000000 kB\n", 20000000ull * 1024},
      {"MemAvailable: 12345\n", 12345},  // no unit: bytes
      {"MemTotal:       24576000 kB\nMemFree:         1000 kB\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    std::istringstream text(c.Text);
    EXPECT_EQ(ReadAvailableMemory(text), c.Bytes) << c.Text;
  }
}

// A run whose estimate exceeds the memory available is refused before anything is written,
// with both figures; a batch counts the worlds its threads run at once.
TEST(RunnerLimits, ARunThatCannotFitIsRefusedWithTheEstimateAndTheMemoryAvailable) {
  TScratchDirectory dir;
  const auto parse = [](std::vector<std::string> args) {
    std::vector<const char*> argv{"zemlix-sim"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream ignored;
    return *ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), ignored, ignored).Options;
  };
  const TRunnerOptions single = parse({"--quiet", "--seed", "1", "--bugs", "3000", "--set",
                                       "hidden_layers=[64,64]", "--ticks", "1", "--csv", dir / "one.csv"});
  std::ostringstream out, error;
  EXPECT_EQ(RunHeadless(single, out, error, 50'000'000), 2);
  EXPECT_EQ(error.str().rfind("zemlix-sim: not enough memory: the run needs about ", 0), 0u) << error.str();
  EXPECT_NE(error.str().find("(3000 bugs, 40 pellets, hidden layers [64,64]), but 50.0 MB is available"),
            std::string::npos)
      << error.str();
  EXPECT_TRUE(dir.Names().empty());
  // Unknown available memory checks nothing.
  EXPECT_EQ(RunHeadless(single, out, error, std::nullopt), 0);

  for (const unsigned jobs : {1u, 4u}) {
    const TRunnerOptions batch = parse({"--quiet", "--seeds", "1-4", "--bugs", "3000", "--set", "hidden_layers=[64,64]",
                                        "--ticks", "1", "--jobs", std::to_string(jobs), "--csv",
                                        dir / ("batch" + std::to_string(jobs) + ".csv")});
    const uint64_t oneWorld = BatchMemoryNeed(TSweep(batch), 1, 1).Total();
    std::ostringstream batchOut, batchError;
    // Room for two worlds: one thread fits, four do not.
    const int status = RunHeadless(batch, batchOut, batchError, 2 * oneWorld);
    EXPECT_EQ(status, jobs == 1 ? 0 : 2) << batchError.str();
    if (jobs == 4) {
      EXPECT_NE(batchError.str().find("(4 worlds at once, each up to "), std::string::npos) << batchError.str();
      EXPECT_FALSE(std::filesystem::exists(dir / "batch4.csv"));
    }
  }
}

TEST(RunnerLimits, ADryRunSaysWhatWouldRunAndWritesNothing) {
  TScratchDirectory dir;
  const auto single = RunSim({"--dry-run", "--seed", "2", "--bugs", "50", "--generations", "3", "--lifetime", "500",
                              "--dump", dir / "a.dump", "--csv", dir / "a.csv"});
  EXPECT_EQ(single.Status, 0) << single.Error;
  EXPECT_EQ(single.Out.rfind("would run 1 world (50 bugs, 40 pellets, hidden layers [6]) for 1500 ticks\n"
                             "memory: about ",
                             0),
            0u)
      << single.Out;
  const auto batch = RunSim({"--dry-run", "--seeds", "1-3", "--sweep", "lifetime=500,1000", "--generations", "2",
                             "--jobs", "2", "--csv", dir / "b.csv", "--journal", dir / "b.journal"});
  EXPECT_EQ(batch.Status, 0) << batch.Error;
  // 3 seeds of 2 lifetimes each of 500, 3 of 2 of 1000.
  EXPECT_EQ(batch.Out.rfind("would run 6 worlds (3 seeds at 2 grid points) for 9000 ticks in all, 2 at once on 2 "
                            "threads\nmemory: about ",
                            0),
            0u)
      << batch.Out;
  EXPECT_NE(batch.Out.find("(2 worlds at once, each up to "), std::string::npos) << batch.Out;
  EXPECT_TRUE(dir.Names().empty());
}

// Memory running out is reported in one line naming what was being done, with status 1,
// and no temporary file is left. The limit is on the address space, far below the memory
// available, so the estimate lets the run start.
TEST(RunnerLimits, RunningOutOfMemoryFailsInOneLineAndLeavesNoTemporaries) {
  if (Sanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
  const std::optional<uint64_t> available = AvailableMemory();
  const uint64_t limit = 1'000'000'000;
  // About 1.5 GB a world: accepted by the estimate where that is free, refused by the limit.
  const std::vector<std::string> world = {"--quiet", "--bugs", "14000", "--set", "hidden_layers=[64,64,64,64]",
                                          "--ticks", "1"};
  if (!available || *available < 2 * limit) GTEST_SKIP() << "less than twice the limit available";
  const struct {
    std::vector<std::string> Args;
    std::vector<std::string> Messages;  // one of them
  } cases[] = {
      {{"--seed", "1", "--csv", "CSV", "--plot", "PLOT", "--dump", "DUMP"},
       {"zemlix-sim: not enough memory for building the world (14000 bugs, 40 pellets, hidden layers "
        "[64,64,64,64])\n"}},
      {{"--seeds", "7-8", "--jobs", "1", "--csv", "CSV", "--summary", "PLOT"},
       {"zemlix-sim: not enough memory for seed 7\n"}},
      // Two threads: either world may be the first to fail.
      {{"--seeds", "7-7", "--sweep", "mutation_rate=0.1,0.2", "--jobs", "2", "--csv", "CSV"},
       {"zemlix-sim: not enough memory for mutation_rate=0.1 seed 7\n",
        "zemlix-sim: not enough memory for mutation_rate=0.2 seed 7\n"}},
  };
  for (const auto& c : cases) {
    TScratchDirectory dir, logs;
    std::vector<std::string> args = world;
    for (const std::string& arg : c.Args)
      args.push_back(arg == "CSV" ? dir / "run.csv" : arg == "PLOT" ? dir / "run.svg" : arg == "DUMP" ? dir / "run.dump" : arg);
    SCOPED_TRACE(c.Messages.front());
    std::vector<std::string> dry = args;
    dry.push_back("--dry-run");
    if (RunProgram(dry, logs).Status != 0) GTEST_SKIP() << "the estimate does not fit in the memory available";
    const TProgramRun run = RunProgram(args, logs, limit);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(std::find(c.Messages.begin(), c.Messages.end(), run.Error), c.Messages.end()) << run.Error;
    EXPECT_TRUE(dir.Names().empty()) << dir.Names().front();
  }
}

}  // namespace
}  // namespace zemlix
