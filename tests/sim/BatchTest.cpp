#include <gtest/gtest.h>

#include <algorithm>

#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

const std::vector<std::string> Settings = {"--quiet", "--bugs", "30", "--lifetime", "500", "--generations", "2"};

std::string Batch(const std::string& seeds, const std::string& jobs) {
  std::vector<std::string> args = Settings;
  args.insert(args.end(), {"--seeds", seeds, "--jobs", jobs, "--csv", "-"});
  const auto run = RunSim(args);
  EXPECT_EQ(run.Status, 0) << run.Error;
  return run.Out;
}

TEST(Batch, RowsAreTheSameWhateverTheNumberOfThreads) {
  const std::string one = Batch("3-8", "1");
  EXPECT_EQ(one, Batch("3-8", "2"));
  EXPECT_EQ(one, Batch("3-8", "3"));
  EXPECT_EQ(one, Batch("3-8", "16"));  // more threads than seeds

  // In seed order, each seed's rows exactly those of a single run with that seed.
  const std::string header = "seed,generation,average,best,worst,total\n";
  ASSERT_EQ(one.rfind(header, 0), 0u);
  std::string expected = header;
  for (int seed = 3; seed <= 8; ++seed) {
    std::vector<std::string> args = Settings;
    args.insert(args.end(), {"--seed", std::to_string(seed), "--csv", "-"});
    const std::string single = RunSim(args).Out;
    size_t at = single.find('\n') + 1;
    for (size_t end = single.find('\n', at); end != std::string::npos; at = end + 1, end = single.find('\n', at))
      expected += std::to_string(seed) + "," + single.substr(at, end - at + 1);
  }
  EXPECT_EQ(one, expected);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 1 + 6 * 2);
}

TEST(Batch, WritesItsFileWholeAndReportsItsSpeed) {
  TScratchDirectory dir;
  std::vector<std::string> args = {"--bugs", "30", "--lifetime", "500", "--ticks", "700", "--seeds",
                                   "4294967294-4294967295", "--jobs", "2", "--csv", dir / "batch.csv"};
  const auto run = RunSim(args);
  ASSERT_EQ(run.Status, 0) << run.Error;
  EXPECT_EQ(run.Out, "");  // data goes only where it was asked for
  EXPECT_EQ(run.Error.rfind("zemlix-sim: 1400 ticks in ", 0), 0u) << run.Error;
  EXPECT_NE(run.Error.find(" ticks/s (2 worlds on 2 threads)\n"), std::string::npos) << run.Error;
  // 700 ticks hold one generation end per seed; the highest seeds do not wrap around.
  const std::string csv = ReadFile(dir.Path / "batch.csv");
  EXPECT_EQ(csv.find("\n4294967294,1,"), csv.find('\n')) << csv;
  EXPECT_NE(csv.find("\n4294967295,1,"), std::string::npos) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"batch.csv"});
}

TEST(Batch, AnUnwritableFileFailsBeforeAnythingRuns) {
  const auto run = RunSim({"--quiet", "--seeds", "1-2", "--csv", "/nonexistent-directory/batch.csv"});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Error.rfind("zemlix-sim: cannot write /nonexistent-directory/batch.csv", 0), 0u) << run.Error;
}

}  // namespace
}  // namespace zemlix
