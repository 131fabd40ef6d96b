#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cmath>
#include <sstream>

#include "sim/Sweep.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A 2 x 2 grid over 3 seeds: the same files for any number of workers, every grid point's
// rows exactly a plain batch's under the same --set values, and a summary whose mean,
// deviation and interval follow from the CSV.
TEST(SweepGrid, RowsAndSummaryFollowTheGridWhateverTheJobs) {
  TScratchDirectory scratch;
  const auto sweep = [&](const std::string& name, const char* jobs) {
    return RunSim({"--seeds", "4-6", "--sweep", "mutation_rate=0.01,0.2", "--sweep", "hidden_layers=[6],[4,3]",
                   "--lifetime", "500", "--generations", "3", "--csv", scratch / (name + ".csv"), "--summary",
                   scratch / (name + ".summary"), "--plot", scratch / (name + ".svg"), "--jobs", jobs, "--quiet"});
  };
  ASSERT_EQ(sweep("one", "1").Status, 0);
  ASSERT_EQ(sweep("three", "3").Status, 0);
  EXPECT_EQ(ReadFile(scratch / "one.csv"), ReadFile(scratch / "three.csv"));
  EXPECT_EQ(ReadFile(scratch / "one.summary"), ReadFile(scratch / "three.summary"));
  // The plot: a line and a band per grid point, named in the legend.
  const std::string svg = ReadFile(scratch / "one.svg");
  EXPECT_EQ(svg, ReadFile(scratch / "three.svg"));
  size_t lines = 0, bands = 0;
  for (size_t at = svg.find("class=\"mean\""); at != std::string::npos; at = svg.find("class=\"mean\"", at + 1)) ++lines;
  for (size_t at = svg.find("class=\"band\""); at != std::string::npos; at = svg.find("class=\"band\"", at + 1)) ++bands;
  EXPECT_EQ(lines, 4u);
  EXPECT_EQ(bands, 4u);
  EXPECT_NE(svg.find(">mutation_rate=0.2, hidden_layers=[4,3]</text>"), std::string::npos);
  EXPECT_NE(svg.find("seeds 4-6, 95 % confidence bands"), std::string::npos);

  const auto csv = Lines(ReadFile(scratch / "one.csv"));
  ASSERT_EQ(csv.size(), 1u + 2 * 2 * 3 * 3);
  EXPECT_EQ(csv[0], "mutation_rate,hidden_layers,seed,generation,average,best,worst,total");
  ASSERT_EQ(RunSim({"--seeds", "4-6", "--set", "mutation_rate=0.2", "--set", "hidden_layers=[4,3]", "--lifetime",
                    "500", "--generations", "3", "--csv", scratch / "point.csv", "--quiet"})
                .Status,
            0);
  const auto point = Lines(ReadFile(scratch / "point.csv"));
  for (size_t k = 1; k < point.size(); ++k) EXPECT_EQ(csv[27 + k], "0.2,\"[4,3]\"," + point[k]);

  // Generation 2 of the last point, from the plain batch's averages.
  std::vector<double> averages;
  for (size_t k = 1; k < point.size(); ++k) {
    int seed = 0, generation = 0;
    double average = 0;
    ASSERT_EQ(std::sscanf(point[k].c_str(), "%d,%d,%lf", &seed, &generation, &average), 3);
    if (generation == 2) averages.push_back(average);
  }
  ASSERT_EQ(averages.size(), 3u);
  const double mean = (averages[0] + averages[1] + averages[2]) / 3;
  double squares = 0;
  for (double a : averages) squares += (a - mean) * (a - mean);
  const double sd = std::sqrt(squares / 2);
  const auto summary = Lines(ReadFile(scratch / "one.summary"));
  ASSERT_EQ(summary.size(), 1u + 4 * 3);
  EXPECT_EQ(summary[0], "mutation_rate,hidden_layers,generation,seeds,mean,sd,ci_low,ci_high");
  double values[4];
  ASSERT_EQ(std::sscanf(summary[11].c_str(), "0.2,\"[4,3]\",2,3,%lf,%lf,%lf,%lf", &values[0], &values[1], &values[2],
                        &values[3]),
            4)
      << summary[11];
  EXPECT_NEAR(values[0], mean, 1e-12);
  EXPECT_NEAR(values[1], sd, 1e-12);
  EXPECT_NEAR(values[3] - values[0], 4.3026527297494638523 * sd / std::sqrt(3.0), 1e-12);  // t for 2 degrees of freedom
  EXPECT_NEAR(values[0] - values[2], values[3] - values[0], 1e-12);
}

// One seed has a mean but no spread: the summary says so in every column, as a number
// reader understands it.
TEST(SweepGrid, OneSeedsSpreadIsNotANumber) {
  TScratchDirectory scratch;
  ASSERT_EQ(RunSim({"--quiet", "--seeds", "3", "--lifetime", "500", "--generations", "2", "--csv", scratch / "s.csv",
                    "--summary", scratch / "s.summary"})
                .Status,
            0);
  const auto summary = Lines(ReadFile(scratch / "s.summary"));
  ASSERT_EQ(summary.size(), 3u);
  for (size_t g = 1; g < 3; ++g) EXPECT_EQ(summary[g].substr(summary[g].size() - 12), ",nan,nan,nan") << summary[g];
}

// Every grid point runs its own lifetime's generations: N of them with --generations N, as
// many as fit with --ticks, one with neither; its rows are a plain batch's at that lifetime,
// and the files are the same for any number of workers.
TEST(SweepGrid, ASweptLifetimeGivesEveryPointItsOwnGenerations) {
  struct TPoint {
    std::string Columns;             // the point's leading CSV columns
    std::vector<std::string> Plain;  // the same point as a plain batch
    size_t Generations;
    std::string Legend;
  };
  const struct {
    std::vector<std::string> Args;
    std::vector<TPoint> Points;
  } cases[] = {
      {{"--sweep", "lifetime=500,1500", "--generations", "2"},
       {{"500,", {"--lifetime", "500", "--generations", "2"}, 2, "lifetime=500"},
        {"1500,", {"--lifetime", "1500", "--generations", "2"}, 2, "lifetime=1500"}}},
      {{"--sweep", "lifetime=500,1500", "--ticks", "3000"},
       {{"500,", {"--lifetime", "500", "--ticks", "3000"}, 6, "lifetime=500"},
        {"1500,", {"--lifetime", "1500", "--ticks", "3000"}, 2, "lifetime=1500"}}},
      {{"--sweep", "lifetime=1500,500"},
       {{"1500,", {"--lifetime", "1500"}, 1, "lifetime=1500"}, {"500,", {"--lifetime", "500"}, 1, "lifetime=500"}}},
      {{"--sweep", "bugs=20,40", "--sweep", "lifetime=1000,500", "--ticks", "2000", "--lifetime", "700"},
       {{"20,1000,", {"--bugs", "20", "--lifetime", "1000", "--ticks", "2000"}, 2, "bugs=20, lifetime=1000"},
        {"20,500,", {"--bugs", "20", "--lifetime", "500", "--ticks", "2000"}, 4, "bugs=20, lifetime=500"},
        {"40,1000,", {"--bugs", "40", "--lifetime", "1000", "--ticks", "2000"}, 2, "bugs=40, lifetime=1000"},
        {"40,500,", {"--bugs", "40", "--lifetime", "500", "--ticks", "2000"}, 4, "bugs=40, lifetime=500"}}},
  };
  const std::vector<std::string> seeds = {"--seeds", "1-3", "--quiet"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[1]);
    TScratchDirectory scratch;
    for (const char* jobs : {"1", "2"}) {
      std::vector<std::string> args = seeds;
      args.insert(args.end(), c.Args.begin(), c.Args.end());
      const std::string name = scratch / jobs;
      args.insert(args.end(), {"--jobs", jobs, "--csv", name + ".csv", "--summary", name + ".summary", "--plot",
                               name + ".svg"});
      ASSERT_EQ(RunSim(args).Status, 0);
    }
    for (const char* kind : {".csv", ".summary", ".svg"})
      EXPECT_EQ(ReadFile((scratch / "1") + kind), ReadFile((scratch / "2") + kind)) << kind;

    const auto csv = Lines(ReadFile(scratch / "1.csv"));
    const auto summary = Lines(ReadFile(scratch / "1.summary"));
    const std::string svg = ReadFile(scratch / "1.svg");
    size_t row = 1, summaryRow = 1;
    for (const TPoint& point : c.Points) {
      SCOPED_TRACE(point.Legend);
      std::vector<std::string> args = seeds;
      args.insert(args.end(), point.Plain.begin(), point.Plain.end());
      args.insert(args.end(), {"--csv", "-"});
      const auto plain = Lines(RunSim(args).Out);
      ASSERT_EQ(plain.size(), 1 + 3 * point.Generations);
      for (size_t k = 1; k < plain.size(); ++k, ++row) {
        ASSERT_LT(row, csv.size());
        EXPECT_EQ(csv[row], point.Columns + plain[k]);
      }
      for (size_t g = 1; g <= point.Generations; ++g, ++summaryRow) {
        ASSERT_LT(summaryRow, summary.size());
        EXPECT_EQ(summary[summaryRow].rfind(point.Columns + std::to_string(g) + ",3,", 0), 0u) << summary[summaryRow];
      }
      EXPECT_NE(svg.find(">" + point.Legend + "</text>"), std::string::npos);
    }
    EXPECT_EQ(row, csv.size());
    EXPECT_EQ(summaryRow, summary.size());
  }
}

TEST(SweepGrid, BadSweepsStopWithStatus2) {
  TScratchDirectory scratch;
  const std::string missing = scratch / "missing/sweep.csv";  // refused before it is opened, or else unwritable
  for (const auto& [args, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "mutation_rate=0.1,2"}, "--sweep mutation_rate=0.1,2: mutation_rate must be"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "rate=1"}, "--sweep rate=1: expected NAME=V1,V2"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "bugs=10", "--sweep", "bugs=20"}, "--sweep bugs: given twice"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "lifetime=500,300"}, "--sweep lifetime=500,300: lifetime must be"},
           // The shortest lifetime ends the most generations: 2^31 at 500, where 2000 or 10000 would fit.
           {{"--seeds", "1-2", "--csv", missing, "--sweep", "lifetime=10000,500", "--ticks", "1073741824000"},
            "the run would take the generation count past 2147483646"},
           {{"--sweep", "bugs=10,20"}, "--sweep: needs --seeds"},
           {{"--summary", "s.csv"}, "--summary: only a batch"},
       }) {
    const auto result = RunSim(args);
    EXPECT_EQ(result.Status, 2) << expected;
    EXPECT_NE(result.Error.find(expected), std::string::npos) << result.Error;
  }
}

// Sweeps that cannot be run as given are refused before any work, with status 2, the text
// at fault or the count against the limit, and nothing written: unpaired brackets once lost
// values, repeated values ran twice, and counts past 2^64 wrapped around to an empty batch.
TEST(SweepGrid, MalformedRepeatedAndOversizedSweepsAreRefusedBeforeAnyWork) {
  const auto values = [](const char* name, int count, double first, double step) {
    std::string sweep = std::string(name) + "=";
    for (int k = 0; k < count; ++k) {
      char value[32];
      std::snprintf(value, sizeof value, "%s%g", k > 0 ? "," : "", first + k * step);
      sweep += value;
    }
    return std::vector<std::string>{"--sweep", sweep};
  };
  std::vector<std::string> eightAxes, tenAxes;
  for (const char* name : {"mutation_rate", "crossover_rate", "gene_range", "turn_limit", "speed_cap",
                           "eating_distance", "field_width", "field_height"}) {
    const bool field = std::string_view(name).rfind("field", 0) == 0;
    for (const std::string& arg : values(name, 256, field ? 50 : 0.001, field ? 1 : 0.001)) eightAxes.push_back(arg);
    for (const std::string& arg : values(name, 10, field ? 50 : 0.001, field ? 1 : 0.001)) tenAxes.push_back(arg);
  }
  for (const char* name : {"bugs", "food"})
    for (const std::string& arg : values(name, 10, 10, 1)) tenAxes.push_back(arg);

  const struct {
    std::vector<std::string> Args;
    std::string Expected;
  } cases[] = {
      {{"--sweep", "mutation_rate=[0.1,0.2"}, "--sweep mutation_rate=[0.1,0.2: the brackets in '[0.1,0.2' do not pair up"},
      {{"--sweep", "hidden_layers=[6],[8"}, "--sweep hidden_layers=[6],[8: the brackets in '[8' do not pair up"},
      {{"--sweep", "hidden_layers=[6]],[8]"}, "the brackets in '[6]]' do not pair up"},
      {{"--sweep", "mutation_rate=0.1,0.1"}, "--sweep mutation_rate=0.1,0.1: mutation_rate 0.1 is given twice"},
      {{"--sweep", "mutation_rate=0.1,0.2,0.10"}, "mutation_rate 0.10 is given twice (as 0.1 before)"},
      {{"--sweep", "hidden_layers=[6],[4,3],6"}, "hidden_layers 6 is given twice (as [6] before)"},
      {{"--sweep", "mutation_rate=0.2", "--set", "mutation_rate=0.1"},
       "--sweep mutation_rate and --set mutation_rate=0.1: both set mutation_rate"},
      {eightAxes, "--seeds and --sweep: the batch would run 36893488147419103232 worlds (18446744073709551616 grid "
                  "points times 2 seeds), more than the limit of 1000000000"},
      {tenAxes, "the batch would run 20000000000 worlds (10000000000 grid points times 2 seeds)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    TScratchDirectory scratch;
    std::vector<std::string> args{"--seeds", "1-2", "--lifetime", "500", "--ticks", "1", "--quiet",
                                  "--csv", scratch / "grid.csv", "--journal", scratch / "journal"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const auto result = RunSim(args);
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Error.find(c.Expected), std::string::npos) << result.Error;
    EXPECT_TRUE(scratch.Names().empty());
  }
  // Seeds alone count too, and the limit itself is a batch.
  const auto seeds = RunSim({"--seeds", "0-4294967295", "--csv", "-", "--quiet"});
  EXPECT_EQ(seeds.Status, 2);
  EXPECT_EQ(seeds.Error, "zemlix-sim: --seeds: the batch would run 4294967296 worlds (1 grid point times 4294967296 "
                         "seeds), more than the limit of 1000000000\n");
  EXPECT_EQ(BatchSizeRefusal({1, MaxBatchItems}, {}), "");
  EXPECT_NE(BatchSizeRefusal({0, MaxBatchItems}, {}), "");
  EXPECT_EQ(BatchSizeRefusal({1, 1000}, {{"bugs", std::vector<std::string>(1'000'000, "5")}}), "");
  EXPECT_NE(BatchSizeRefusal({1, 1001}, {{"bugs", std::vector<std::string>(1'000'000, "5")}}), "");
}

// Items are never listed whole: a point's lifetime comes from its index, whichever axis is
// the lifetime's, as the point's own parameters give it.
TEST(SweepGrid, EveryPointsLifetimeComesFromItsIndex) {
  TRunnerOptions options;
  options.Seeds = TSeedRange{1, 3};
  options.Generations = 2;
  options.Sweep = {{"bugs", {"10", "20", "30"}}, {"lifetime", {"500", "700"}}, {"mutation_rate", {"0.1", "0.2"}}};
  const TSweep sweep(options);
  ASSERT_EQ(sweep.GridPoints(), 12u);
  for (uint64_t point = 0; point < sweep.GridPoints(); ++point) {
    EXPECT_EQ(sweep.Lifetime(point), sweep.PointParameters(point).Lifetime) << point;
    EXPECT_EQ(sweep.Ticks(point * 3 + 2), 2u * static_cast<uint64_t>(sweep.Lifetime(point))) << point;
  }
}

TEST(SweepGrid, PendingItemsAreCountedFromTheJournalAlone) {
  const struct {
    uint64_t Items;
    std::vector<uint64_t> Finished, Pending;
  } cases[] = {
      {6, {}, {0, 1, 2, 3, 4, 5}},
      {6, {2, 3}, {0, 1, 4, 5}},
      {6, {0, 5}, {1, 2, 3, 4}},
      {6, {0, 1, 2, 3, 4}, {5}},
      {4, {0, 1, 2, 3}, {}},
  };
  for (const auto& c : cases) {
    const TPendingItems pending(c.Items, c.Finished);
    std::vector<uint64_t> listed;
    for (uint64_t k = 0; k < pending.size(); ++k) listed.push_back(pending[k]);
    EXPECT_EQ(listed, c.Pending);
  }
}

// The largest batch the runner takes starts its first item at once: nothing is listed or
// counted item by item before the work.
TEST(SweepGrid, AHugeBatchStartsAtOnce) {
  TScratchDirectory scratch;
  const std::string journal = scratch / "j";
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(ZEMLIX_SIM_PATH, ZEMLIX_SIM_PATH, "--quiet", "--seeds", "1-999999999", "--ticks", "1", "--jobs", "1",
            "--csv", (scratch / "s.csv").c_str(), "--journal", journal.c_str(), nullptr);
    ::_exit(127);
  }
  while (ReadFile(journal).find("\nitem ") == std::string::npos &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto firstItem = std::chrono::steady_clock::now() - start;
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  EXPECT_LT(firstItem, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zemlix
