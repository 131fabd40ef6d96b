#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

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
  EXPECT_NEAR(values[3] - values[0], 4.303 * sd / std::sqrt(3.0), 1e-9);  // t for 2 degrees of freedom
  EXPECT_NEAR(values[0] - values[2], values[3] - values[0], 1e-12);
}

TEST(SweepGrid, BadSweepsStopWithStatus2) {
  for (const auto& [args, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "mutation_rate=0.1,2"}, "--sweep mutation_rate=0.1,2: mutation_rate must be"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "rate=1"}, "--sweep rate=1: expected NAME=V1,V2"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "bugs=10", "--sweep", "bugs=20"}, "--sweep bugs: given twice"},
           {{"--seeds", "1-2", "--csv", "-", "--sweep", "lifetime=500,600"}, "--sweep lifetime: cannot be swept"},
           {{"--sweep", "bugs=10,20"}, "--sweep: needs --seeds"},
           {{"--summary", "s.csv"}, "--summary: only a batch"},
       }) {
    const auto result = RunSim(args);
    EXPECT_EQ(result.Status, 2) << expected;
    EXPECT_NE(result.Error.find(expected), std::string::npos) << result.Error;
  }
}

}  // namespace
}  // namespace zemlix
