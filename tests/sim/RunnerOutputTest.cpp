#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "files/OutputFile.h"
#include "sim/Progress.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

TEST(OutputFile, TheFinalNameAppearsOnlyOnCommit) {
  TScratchDirectory dir;
  std::ostringstream standardOutput;
  testing::WriteFile(dir.Path / "run.csv", "previous\n");
  {
    TOutputFile file(dir / "run.csv", standardOutput);
    file.Stream() << "half a ";
    EXPECT_EQ(ReadFile(dir.Path / "run.csv"), "previous\n");
    EXPECT_EQ(dir.Names().size(), 2u);  // the temporary beside it
  }  // abandoned, as by a failed run
  EXPECT_EQ(ReadFile(dir.Path / "run.csv"), "previous\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.csv"});
  {
    TOutputFile file(dir / "run.csv", standardOutput);
    file.Stream() << "whole\n";
    file.Commit();
  }
  EXPECT_EQ(ReadFile(dir.Path / "run.csv"), "whole\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.csv"});
  EXPECT_EQ(standardOutput.str(), "");

  TOutputFile toStandardOutput("-", standardOutput);
  toStandardOutput.Stream() << "rows\n";
  toStandardOutput.Commit();
  EXPECT_EQ(standardOutput.str(), "rows\n");
  EXPECT_THROW(TOutputFile(dir / "missing/run.csv", standardOutput), std::runtime_error);
}

TEST(RunnerOutput, StandardOutputCarriesOnlyTheDataAskedFor) {
  const std::vector<std::string> run = {"--seed", "2", "--lifetime", "500", "--ticks", "1100", "--csv", "-"};
  const auto loud = RunSim(run);
  ASSERT_EQ(loud.Status, 0);
  EXPECT_EQ(loud.Out.rfind("generation,average,best,worst,total\n1,", 0), 0u) << loud.Out;
  EXPECT_EQ(std::count(loud.Out.begin(), loud.Out.end(), '\n'), 3);
  EXPECT_EQ(loud.Error.rfind("zemlix-sim: 1100 ticks in ", 0), 0u) << loud.Error;
  EXPECT_EQ(std::count(loud.Error.begin(), loud.Error.end(), '\n'), 1);
  EXPECT_EQ(loud.Error.find('\r'), std::string::npos);  // no progress bar off a terminal

  auto quietArgs = run;
  quietArgs.push_back("--quiet");
  const auto quiet = RunSim(quietArgs);
  EXPECT_EQ(quiet.Out, loud.Out);
  EXPECT_EQ(quiet.Error, "");

  // The default lifetime's worth of ticks follows --lifetime.
  const auto dump = RunSim({"--quiet", "--seed", "2", "--lifetime", "700", "--dump", "-"});
  EXPECT_EQ(dump.Out.rfind("state tick=700 generation=1 ttl=700 ", 0), 0u);
}

TEST(RunnerOutput, CsvRowsReadBackExactly) {
  const auto run = RunSim({"--quiet", "--seed", "12", "--lifetime", "500", "--generations", "4", "--csv", "-"});
  ASSERT_EQ(run.Status, 0);
  std::istringstream rows(run.Out);
  std::string row;
  std::getline(rows, row);
  int expectedGeneration = 1;
  while (std::getline(rows, row)) {
    int generation = 0, best = 0, worst = 0, total = 0;
    char average[64] = {};
    ASSERT_EQ(std::sscanf(row.c_str(), "%d,%63[^,],%d,%d,%d", &generation, average, &best, &worst, &total), 5) << row;
    EXPECT_EQ(generation, expectedGeneration++);
    EXPECT_LE(worst, best);
    // The average is the total over the 30 bugs, written so that it reads back to the bit.
    EXPECT_EQ(std::strtod(average, nullptr), static_cast<double>(static_cast<long double>(total) / 30)) << row;
  }
  EXPECT_EQ(expectedGeneration, 5);
}

TEST(Progress, LinesShowCountRateAndTimeLeft) {
  EXPECT_EQ(FormatProgress(1000, 4000, 1, 4, 2.0), "[######..................]  1/4 generations  500 ticks/s  0:06 left");
  EXPECT_EQ(FormatProgress(3000, 3000, 0, 0, 1.5), "[########################]  3000/3000 ticks  2000 ticks/s  0:00 left");
  EXPECT_EQ(FormatProgress(0, 3000, 0, 0, 0.0), "[........................]  0/3000 ticks");
  EXPECT_EQ(FormatGridProgress(7, 48, 2, 3), "  7/48 worlds, 2/3 grid points");
  EXPECT_EQ(FormatProgress(10, 100000, 0, 0, 1.0).substr(FormatProgress(10, 100000, 0, 0, 1.0).size() - 12),
            "2:46:39 left");
  EXPECT_EQ(FormatSummary(5000, 2.0, 1, 1), "5000 ticks in 2.00 s, 2500 ticks/s");
  EXPECT_EQ(FormatSummary(8000, 2.0, 4, 2), "8000 ticks in 2.00 s, 4000 ticks/s (4 worlds on 2 threads)");
  EXPECT_EQ(FormatSummary(8000, 2.0, 4, 1, "rank"), "8000 ticks in 2.00 s, 4000 ticks/s (4 worlds on 1 rank)");
  // The rate counts only this run's items; the journal's are done already.
  EXPECT_EQ(FormatItemProgress(12, 64, 10, 5.0), "12/64 items, 2.0 items/s, 0:26 left");
  EXPECT_EQ(FormatItemProgress(3, 64, 0, 5.0), "3/64 items");
}

TEST(RunnerOutput, AnUnwritableOutputFailsBeforeTheRun) {
  const auto run = RunSim({"--quiet", "--seed", "2", "--ticks", "5", "--plot", "/nonexistent-directory/run.svg"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Error.rfind("zemlix-sim: cannot write /nonexistent-directory/run.svg", 0), 0u) << run.Error;
}

}  // namespace
}  // namespace zemlix

namespace zemlix {
namespace {

// The table's arithmetic on made-up times: 1 s serial and 4 s of work on each of two
// threads with 0.5 s of waits each, over 10^6 ticks, is a serial share of 1/9, and 64 cores
// take 1 + 8/64 + 0.5 us where one takes 9.
TEST(TickProfile, TheTableDividesByTicksAndPredictsByAmdahl) {
  TTickProfile profile;
  profile.Ticks = 1000000;
  profile.SerialSeconds = 1;
  profile.WorkSeconds = {4, 4};
  profile.WaitSeconds = {0.5, 0.5};
  profile.TakenBugs = 2500000;
  EXPECT_EQ(FormatTickProfile(profile),
            "profile of 1000000 ticks on 2 threads, processor time per tick:\n"
            "  serial                1.00 us  11.11 %\n"
            "  thread 0   work       4.00 us  waits     0.50 us\n"
            "  thread 1   work       4.00 us  waits     0.50 us\n"
            "  taken over            2.50 bugs\n"
            "  Amdahl on 64 cores (serial 11.11 %, waits 0.50 us): 5.5x\n");
  // Once measured, the cost of the clock readings the sections left out is shown.
  profile.ReadingSeconds = 1.25e-6;
  EXPECT_NE(FormatTickProfile(profile).find("5.5x\n  (each section less its clock readings' 1.25 us)\n"),
            std::string::npos);
}

// --profile adds the table after a single world's run, on one thread or several, without
// changing the world; a batch refuses it.
TEST(TickProfile, TheRunnerPrintsItForOneWorldOnly) {
  struct TCase {
    std::vector<std::string> Args;
    int Status;
    std::string Expected;  // in the error stream
  };
  const std::vector<std::string> world = {"--seed", "3", "--bugs", "400", "--food", "40", "--ticks", "30", "--quiet"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), world.begin(), world.end());
    return more;
  };
  const TCase cases[] = {
      {with({"--threads", "1", "--profile"}), 0, "zemlix-sim: profile of 30 ticks on 1 thread, processor time"},
      {with({"--threads", "2", "--profile"}), 0, "  thread 1   work "},
      {{"--seeds", "1-2", "--ticks", "5", "--profile"}, 2, "--profile: only a single world is profiled, not a batch"},
  };
  const auto plain = RunSim(with({"--threads", "2", "--dump", "-"}));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args.back());
    auto args = c.Args;
    if (c.Status == 0) args.insert(args.end(), {"--dump", "-"});
    const auto run = RunSim(args);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_NE(run.Error.find(c.Expected), std::string::npos) << run.Error;
    if (c.Status == 0) {
      EXPECT_EQ(run.Out, plain.Out);
    }
  }
}

}  // namespace
}  // namespace zemlix
