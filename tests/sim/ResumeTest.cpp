#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "files/Dump.h"
#include "sim/HeadlessHost.h"
#include "files/SavedState.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

// Lifetime 500: the first generation ends in tick 500, the second in tick 1000.
const std::vector<std::string> Settings = {"--quiet", "--bugs", "30", "--food", "40", "--lifetime", "500"};

std::vector<std::string> With(std::vector<std::string> args) {
  args.insert(args.begin(), Settings.begin(), Settings.end());
  return args;
}

TEST(Resume, EqualsTheUninterruptedRunAtEveryCut) {
  TScratchDirectory dir;
  const uint64_t rest = 620;
  // Cut at the start, just before, at and just after a generation end, and mid-generation.
  for (uint64_t cut : {0u, 1u, 499u, 500u, 501u, 777u, 999u, 1000u}) {
    SCOPED_TRACE("cut at tick " + std::to_string(cut));
    ASSERT_EQ(RunSim(With({"--seed", "11", "--ticks", std::to_string(cut + rest), "--dump", dir / "whole"})).Status, 0);
    ASSERT_EQ(RunSim(With({"--seed", "11", "--ticks", std::to_string(cut), "--dump", dir / "saved"})).Status, 0);
    const auto resumed = RunSim({"--quiet", "--load", dir / "saved", "--ticks", std::to_string(rest), "--dump", dir / "resumed"});
    ASSERT_EQ(resumed.Status, 0) << resumed.Error;
    const std::string whole = ReadFile(dir.Path / "whole");
    EXPECT_EQ(whole.rfind("state tick=" + std::to_string(cut + rest) + " ", 0), 0u) << whole.substr(0, 60);
    EXPECT_TRUE(whole == ReadFile(dir.Path / "resumed"));
  }
}

TEST(Resume, ByGenerationsContinuesTheNumberingAndTheRows) {
  TScratchDirectory dir;
  ASSERT_EQ(RunSim(With({"--seed", "4", "--generations", "3", "--csv", dir / "whole.csv", "--dump", dir / "whole"})).Status, 0);
  ASSERT_EQ(RunSim(With({"--seed", "4", "--generations", "1", "--csv", dir / "first.csv", "--dump", dir / "saved"})).Status, 0);
  ASSERT_EQ(RunSim({"--quiet", "--load", dir / "saved", "--generations", "2", "--csv", dir / "rest.csv", "--dump",
                    dir / "resumed"})
                .Status,
            0);
  EXPECT_TRUE(ReadFile(dir.Path / "whole") == ReadFile(dir.Path / "resumed"));
  const std::string header = "generation,average,best,worst,total\n";
  const std::string first = ReadFile(dir.Path / "first.csv");
  const std::string rest = ReadFile(dir.Path / "rest.csv");
  ASSERT_EQ(rest.rfind(header, 0), 0u);
  EXPECT_EQ(ReadFile(dir.Path / "whole.csv"), first + rest.substr(header.size()));
  EXPECT_EQ(rest.substr(header.size(), 2), "2,");
  // Three generation ends take exactly three lifetimes.
  EXPECT_EQ(ReadFile(dir.Path / "whole").rfind("state tick=1500 generation=3 ttl=500 ", 0), 0u);
}

TEST(Resume, LoadsTheLastStateOfADumpEveryFileAndMayOverwriteIt) {
  TScratchDirectory dir;
  ASSERT_EQ(RunSim(With({"--seed", "8", "--ticks", "50", "--dump", dir / "whole"})).Status, 0);
  ASSERT_EQ(RunSim(With({"--seed", "8", "--ticks", "30", "--dump-every", "10", "--dump", dir / "saved"})).Status, 0);
  // The run replaces the file it loaded only once it has finished.
  const auto resumed = RunSim({"--quiet", "--load", dir / "saved", "--ticks", "20", "--dump", dir / "saved"});
  ASSERT_EQ(resumed.Status, 0) << resumed.Error;
  EXPECT_TRUE(ReadFile(dir.Path / "whole") == ReadFile(dir.Path / "saved"));
  std::vector<std::string> names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, std::vector<std::string>({"saved", "whole"}));  // no temporary left behind
}

TEST(Resume, DumpEveryCountsTicksFromThePopulationsStart) {
  TScratchDirectory dir;
  ASSERT_EQ(RunSim(With({"--seed", "8", "--ticks", "40", "--dump-every", "15", "--dump", dir / "whole"})).Status, 0);
  ASSERT_EQ(RunSim(With({"--seed", "8", "--ticks", "20", "--dump", dir / "saved"})).Status, 0);
  ASSERT_EQ(RunSim({"--quiet", "--load", dir / "saved", "--ticks", "20", "--dump-every", "15", "--dump", dir / "resumed"})
                .Status,
            0);
  const std::string whole = ReadFile(dir.Path / "whole");
  const std::string resumed = ReadFile(dir.Path / "resumed");
  // The whole run dumps at 15, 30 and 40; the resumed one at 30 and 40, the same states.
  const size_t second = whole.find("state tick=30 ");
  ASSERT_NE(second, std::string::npos);
  EXPECT_TRUE(whole.substr(second) == resumed);
}

TEST(Resume, ReadingAndRestoringADumpGivesItBackByteForByte) {
  const auto run = RunSim(With({"--seed", "21", "--ticks", "730", "--dump", "-"}));
  ASSERT_EQ(run.Status, 0);
  std::string text = testing::WithoutChecksums(run.Out);
  // A negative zero must survive as such: it is a different double.
  const size_t bugLine = text.find("\nbug 3 ") + 1;
  const size_t lookX = [&] {
    size_t at = bugLine;
    for (int field = 0; field < 6; ++field) at = text.find(' ', at) + 1;
    return at;
  }();
  text.replace(lookX, text.find(' ', lookX) - lookX, "-0");

  std::istringstream in(text);
  const TSavedState state = ReadDump(in, "text");
  EXPECT_TRUE(std::signbit(state.Creatures[3].LookX));
  EXPECT_EQ(state.Creatures[3].LookX, 0.0);
  THeadlessHost host(state.Bugs, state.Food, state.Lifetime, false);
  TWorld world(host);
  RestoreWorld(world, state, "text");
  const std::string again = FormatDump(world, state.Tick, state.Lifetime);
  EXPECT_TRUE(testing::WithoutChecksums(again) == text);
  std::istringstream checked(again);
  EXPECT_EQ(ReadDump(checked, "again").Seed, state.Seed);
  EXPECT_EQ(world.Random.Seed, state.Seed);
  EXPECT_EQ(world.Generation, 1);
}

}  // namespace
}  // namespace zemlix
