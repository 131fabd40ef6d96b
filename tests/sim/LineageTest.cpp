#include <gtest/gtest.h>

#include <algorithm>

#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

const std::string Header = "generation,child,parent_a,parent_b,crossover_point,mutations\n";

// Five bugs with 9 genes each (hidden_layers=[1]: 1 x 5 + 2 x 2 weights). The rows were worked
// out from the generator's state and the fitness that a dump at ticks 499 and 999 shows:
//
// Generation 1 ends from seed=3021285755 with fitness 2 0 0 3 2, raised to 3 1 1 4 3, total 12.
//   child 0: draw 0.5689 walks 6.83 - 3 - 1 - 1 - 4 = -2.17 < 4: bug 3; draw 0.1489 gives
//            1.79 - 3 < 3: bug 0; 0.6347 <= 0.7 crosses at round(0.8621 * 9) = 8; none of
//            the nine mutation draws is <= 0.05.
//   child 1: 0.7228 and 0.8353 both walk to bug 3; crosses at round(0.5002 * 9) = 5; the draws
//            for genes 0, 1 and 2 (0.0277, 0.0332, 0.0342) mutate them.
//   child 4: 0.1039 gives bug 0, 0.9038 bug 3; crosses at round(0.3833 * 9) = 3; gene 2 mutates.
// Generation 2 ends from seed=3772313385 with fitness 2 4 3 3 2, raised 3 5 4 4 3, total 19.
//   child 0: 0.0033 and 0.1944 both give bug 0 (0.06 - 3 and 3.69 - 3 = 0.69 < 3); crosses at
//            round(0.2225 * 9) = 2; gene 4 mutates (0.0068).
//   child 2: 0.4092 walks 7.77 - 3 - 5 < 5: bug 1; 0.2099 gives bug 0; 0.9300 > 0.7: no
//            crossover, a copy of bug 1, the fitter (5 > 3), which leads; genes 0 and 5 mutate.
//   child 3: 0.6383 gives bug 1, 0.9558 bug 3 (18.16 - 3 - 5 - 4 - 4 = 2.16 < 4); 0.7403: a
//            copy of bug 1 (5 > 4); no mutation.
TEST(Lineage, TheFirstTwoGenerationEndsOfASeedAsWorkedOutByHand) {
  const auto run = RunSim({"--quiet", "--seed", "9", "--bugs", "5", "--food", "100", "--lifetime", "500", "--set",
                           "hidden_layers=[1]", "--generations", "2", "--lineage", "-"});
  ASSERT_EQ(run.Status, 0) << run.Error;
  EXPECT_EQ(run.Out, Header +
                         "1,0,3,0,8,0\n"
                         "1,1,3,3,5,3\n"
                         "1,2,3,3,1,0\n"
                         "1,3,3,0,1,1\n"
                         "1,4,0,3,3,1\n"
                         "2,0,0,0,2,1\n"
                         "2,1,1,0,1,0\n"
                         "2,2,1,0,-1,2\n"
                         "2,3,1,3,-1,0\n"
                         "2,4,0,1,3,2\n");
}

const std::vector<std::string> Settings = {"--quiet", "--bugs", "30", "--food", "40", "--lifetime", "500"};

std::vector<std::string> With(std::vector<std::string> args) {
  args.insert(args.begin(), Settings.begin(), Settings.end());
  return args;
}

// Cut at a generation end and inside a generation, and resumed to the next generation end or
// short of it: the rows of the two parts are those of the run in one go, and the dumps carry
// the same parents.
TEST(Lineage, AResumedRunContinuesItExactly) {
  TScratchDirectory dir;
  const struct {
    int Cut, End;
  } cuts[] = {{700, 800}, {500, 1600}, {700, 1600}};
  for (const auto& cut : cuts) {
    SCOPED_TRACE("cut at tick " + std::to_string(cut.Cut) + ", end at " + std::to_string(cut.End));
    ASSERT_EQ(RunSim(With({"--seed", "6", "--ticks", std::to_string(cut.End), "--lineage", dir / "whole.csv", "--dump",
                           dir / "whole", "--csv", dir / "whole-fitness.csv"}))
                  .Status,
              0);
    ASSERT_EQ(RunSim(With({"--seed", "6", "--ticks", std::to_string(cut.Cut), "--lineage", dir / "first.csv", "--dump",
                           dir / "saved"}))
                  .Status,
              0);
    const auto resumed = RunSim({"--quiet", "--load", dir / "saved", "--ticks", std::to_string(cut.End - cut.Cut),
                                 "--lineage", dir / "rest.csv", "--dump", dir / "resumed"});
    ASSERT_EQ(resumed.Status, 0) << resumed.Error;
    const std::string rest = ReadFile(dir.Path / "rest.csv");
    ASSERT_EQ(rest.rfind(Header, 0), 0u);
    EXPECT_EQ(ReadFile(dir.Path / "whole.csv"), ReadFile(dir.Path / "first.csv") + rest.substr(Header.size()));
    EXPECT_TRUE(ReadFile(dir.Path / "whole") == ReadFile(dir.Path / "resumed"));
  }
  const std::string whole = ReadFile(dir.Path / "whole");
  EXPECT_NE(whole.find("\nparent 29 "), std::string::npos);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 1 + 3 * 200 + 100 + 2);
  const std::string rows = ReadFile(dir.Path / "whole.csv");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 3 * 30);

  // Following the lines changes nothing in the run, and a dump that was not asked to carry
  // them stays the plain format.
  ASSERT_EQ(RunSim(With({"--seed", "6", "--ticks", "1600", "--dump", dir / "plain", "--csv", dir / "plain.csv"})).Status, 0);
  EXPECT_EQ(ReadFile(dir.Path / "plain.csv"), ReadFile(dir.Path / "whole-fitness.csv"));
  const std::string plain = ReadFile(dir.Path / "plain");
  EXPECT_EQ(plain.find("\nparent "), std::string::npos);
  EXPECT_EQ(plain.substr(0, plain.find("\ncheck ")), whole.substr(0, whole.find("\nparent 0 ")));
}

std::string Batch(const std::string& jobs, const std::string& journal) {
  std::vector<std::string> args = With({"--generations", "2", "--seeds", "3-5", "--sweep", "mutation_rate=0.05,0.2",
                                        "--jobs", jobs, "--csv", journal + ".csv", "--lineage", "-"});
  if (!journal.empty()) args.insert(args.end(), {"--journal", journal});
  const auto run = RunSim(args);
  EXPECT_EQ(run.Status, 0) << run.Error;
  return run.Out;
}

// Whatever the threads, and when a journal holds every item already, the batch's rows are
// in item order and each item's are those of the single run.
TEST(Lineage, BatchesGiveTheSameBytesAsTheSingleRuns) {
  TScratchDirectory dir;
  const std::string one = Batch("1", dir / "journal");
  EXPECT_EQ(one, Batch("2", dir / "other"));
  EXPECT_EQ(one, Batch("2", dir / "journal"));  // nothing left to run: all from the journal

  std::string expected = "mutation_rate,seed," + Header;
  for (const std::string rate : {"0.05", "0.2"})
    for (const std::string seed : {"3", "4", "5"}) {
      const auto single = RunSim(With({"--generations", "2", "--seed", seed, "--set", "mutation_rate=" + rate,
                                       "--lineage", "-"}));
      ASSERT_EQ(single.Status, 0) << single.Error;
      for (size_t at = Header.size(), end; (end = single.Out.find('\n', at)) != std::string::npos; at = end + 1)
        expected += rate + "," + seed + "," + single.Out.substr(at, end - at + 1);
    }
  EXPECT_EQ(one, expected);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 1 + 6 * 2 * 30);
}

}  // namespace
}  // namespace zemlix
