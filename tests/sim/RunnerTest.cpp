#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "files/Dump.h"
#include "sim/Runner.h"
#include "sim/RunnerOptions.h"

namespace zemlix {
namespace {

struct Parsed {
  TParseResult result;
  std::string out, error;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "zemlix-sim");
  std::ostringstream out, error;
  Parsed parsed{ParseRunnerOptions(static_cast<int>(args.size()), args.data(), out, error), {}, {}};
  parsed.out = out.str();
  parsed.error = error.str();
  return parsed;
}

TEST(RunnerOptions, DefaultsAreTheWindows) {
  const auto parsed = Parse({"--seed", "5"});
  ASSERT_TRUE(parsed.result.Options);
  const TRunnerOptions& options = *parsed.result.Options;
  EXPECT_EQ(options.Seed, 5u);
  EXPECT_EQ(options.Bugs, 30);
  EXPECT_EQ(options.Food, 40);
  EXPECT_EQ(options.Lifetime, 2000);
  EXPECT_FALSE(options.Ticks);  // one lifetime, whichever lifetime the run gets
  EXPECT_EQ(options.Generations, 0u);
  EXPECT_TRUE(options.DumpPath.empty());
  EXPECT_FALSE(options.RecordIO);
  EXPECT_FALSE(options.Seeds);
  EXPECT_FALSE(options.Quiet);
  EXPECT_FALSE(options.Progress);
  EXPECT_GE(options.Jobs, 1u);
  EXPECT_EQ(Parse({"--seed", "4294967295"}).result.Options->Seed, 4294967295u);
  // Leading zeros are decimal, as the ranges were checked: never octal (0500 was 320 ticks).
  const auto zeros = Parse({"--seed", "010", "--bugs", "030", "--lifetime", "0500", "--ticks", "010", "--threads", "02"});
  ASSERT_TRUE(zeros.result.Options) << zeros.error;
  EXPECT_EQ(zeros.result.Options->Seed, 10u);
  EXPECT_EQ(zeros.result.Options->Bugs, 30);
  EXPECT_EQ(zeros.result.Options->Lifetime, 500);
  EXPECT_EQ(zeros.result.Options->Ticks, 10u);
  EXPECT_EQ(zeros.result.Options->Threads, 2u);
}

TEST(RunnerOptions, BadValuesNameTheOptionAndRange) {
  for (const auto& [args, expected] : std::vector<std::pair<std::vector<const char*>, std::string>>{
           {{"--bugs", "100001"}, "--bugs: must be an integer from 5 to 100000, not '100001'"},
           {{"--bugs", "4"}, "from 5 to 100000"},
           {{"--food", "abc"}, "--food: must be an integer from 5 to 100000, not 'abc'"},
           {{"--lifetime", "10001"}, "--lifetime: must be an integer from 500 to 10000"},
           {{"--seed", "4294967296"}, "--seed: must be an integer from 0 to 4294967295"},
           {{"--seed", "-1"}, "--seed"},
           {{"--ticks", "-5"}, "--ticks: must be an integer of at least 0"},
           {{"--ticks", "1.5"}, "--ticks"},
           {{"--dump-every", "0", "--dump", "-"}, "--dump-every: must be an integer of at least 1"},
           {{"--dump-every", "3"}, "--dump-every: needs --dump"},
           {{"--frobnicate"}, "frobnicate"},
           {{"--generations", "0"}, "--generations: must be an integer from 1 to 4294967295, not '0'"},
           {{"--generations", "3", "--ticks", "5"}, "--ticks and --generations: give one of them"},
           {{"--seeds", "5-3", "--csv", "-"}, "--seeds: must be a range A-B of seeds from 0 to 4294967295 with A <= B, not '5-3'"},
           {{"--seeds", "1-4294967296", "--csv", "-"}, "--seeds: must be a range"},
           {{"--seeds", "1-", "--csv", "-"}, "--seeds: must be a range"},
           {{"--seeds", "-3", "--csv", "-"}, "--seeds: must be a range"},
           {{"--seeds", "1-3"}, "--seeds: needs --csv"},
           {{"--seeds", "1-3", "--csv", "-", "--seed", "4"}, "--seeds: cannot be combined with --seed"},
           {{"--seeds", "1-3", "--csv", "-", "--summary", "-"}, "only one of them can write to standard output"},
           {{"--seeds", "1-3", "--csv", "a.csv", "--dump", "a"}, "--seeds: cannot be combined with --dump"},
           {{"--seeds", "1-3", "--csv", "a.csv", "--record-io"}, "--seeds: cannot be combined with --record-io"},
           {{"--jobs", "0"}, "--jobs: must be an integer from 1 to 1024, not '0'"},
           {{"--load", "s", "--bugs", "40"}, "--load: cannot be combined with --bugs, the file sets it"},
           {{"--load", "s", "--seed", "1"}, "--load: cannot be combined with --seed"},
           {{"--load", "s", "--lifetime", "900"}, "--load: cannot be combined with --lifetime"},
           {{"--dump", "-", "--csv", "-"}, "only one of them can write to standard output"},
           {{"--journal", "j"}, "--journal: only a batch (--seeds) keeps a journal"},
           {{"--seeds", "1-3", "--csv", "a.csv", "--journal", "-"}, "--journal: needs a file that can be read again"},
           {{"--seeds", "1-3", "--csv", "a.csv", "--journal", "./a.csv"}, "--csv and --journal: both name the file ./a.csv"},
           {{"--seeds", "1-3", "--csv", "a.csv", "--journal", ""}, "--journal: the file name is empty"},
       }) {
    const auto parsed = Parse(args);
    EXPECT_FALSE(parsed.result.Options) << expected;
    EXPECT_EQ(parsed.result.ExitStatus, 2) << expected;
    EXPECT_NE(parsed.error.find(expected), std::string::npos) << parsed.error;
    EXPECT_EQ(std::count(parsed.error.begin(), parsed.error.end(), '\n'), 1) << parsed.error;
  }
}

TEST(RunnerOptions, HelpListsEveryOptionWithItsRange) {
  const auto parsed = Parse({"--help"});
  EXPECT_FALSE(parsed.result.Options);
  EXPECT_EQ(parsed.result.ExitStatus, 0);
  for (const char* text : {"--seed", "--bugs", "5 to 100000 (default 30", "--food", "5 to 100000 (default 40", "--lifetime",
                           "500 to 10000 (default 2000", "--config", "--set", "--ticks", "--dump", "--dump-every", "--record-io",
                           "--generations", "--csv", "--plot", "--load", "--seeds A-B", "--jobs", "the number of cores",
                           "--quiet"})
    EXPECT_NE(parsed.out.find(text), std::string::npos) << text;
}

std::string RunToString(const std::vector<const char*>& args, int* status = nullptr) {
  const auto parsed = Parse(args);
  std::ostringstream out, error;
  const int exit = RunHeadless(*parsed.result.Options, out, error);
  if (status) *status = exit;
  return out.str();
}

TEST(Runner, DumpIsTheSameOnEveryRun) {
  const std::vector<const char*> args = {"--seed", "1", "--bugs", "200", "--food", "100", "--ticks", "600",
                                         "--lifetime", "500", "--dump", "-"};
  const std::string first = RunToString(args);
  EXPECT_EQ(first, RunToString(args));
  EXPECT_EQ(first.rfind("state tick=600 generation=1 ttl=400 ", 0), 0u) << first.substr(0, 120);
  EXPECT_NE(first.find(" bugs=200 food=100 lifetime=500\n"), std::string::npos);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1 + 200 + 100 + 200 + 2);  // + check and end
  EXPECT_EQ(first.substr(first.size() - 4), "end\n");
  // Another seed gives another run.
  auto other = args;
  other[1] = "2";
  EXPECT_NE(first, RunToString(other));
}

TEST(Runner, DumpLinesCarryEverySlot) {
  const std::string dump = RunToString({"--seed", "9", "--ticks", "0", "--dump", "-"});
  std::istringstream lines(dump);
  std::string line;
  std::getline(lines, line);
  EXPECT_NE(line.find("tick=0 generation=0 ttl=2000 total=0 average=0 selfood=0 "), std::string::npos) << line;
  std::getline(lines, line);
  std::istringstream bug(line);
  std::string word;
  int fields = 0;
  while (bug >> word) ++fields;
  EXPECT_EQ(fields, 2 + 6 + 1);
  for (int i = 0; i < 199 + 100; ++i) std::getline(lines, line);
  EXPECT_EQ(line.rfind("food 99 ", 0), 0u);
  std::getline(lines, line);
  std::istringstream net(line);
  fields = 0;
  while (net >> word) ++fields;
  EXPECT_EQ(fields, 2 + 44);
}

TEST(Runner, DumpEveryWritesEachStateOnce) {
  const struct {
    const char* Ticks;
    std::vector<std::string> States;
  } cases[] = {{"10", {"4", "8", "10"}}, {"8", {"4", "8"}}, {"3", {"3"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ticks);
    const std::string dumps = RunToString({"--seed", "3", "--ticks", c.Ticks, "--dump-every", "4", "--dump", "-"});
    std::vector<std::string> states;
    for (size_t at = dumps.find("state tick="); at != std::string::npos; at = dumps.find("state tick=", at + 1))
      states.push_back(dumps.substr(at + 11, dumps.find(' ', at + 11) - at - 11));
    EXPECT_EQ(states, c.States);
  }
}

TEST(Runner, WithoutADumpItReportsEachGeneration) {
  const std::string report = RunToString({"--seed", "3", "--lifetime", "500", "--ticks", "1000"});
  EXPECT_EQ(report.rfind("generation 1 average ", 0), 0u) << report;
  EXPECT_NE(report.find("\ngeneration 2 average "), std::string::npos);
  EXPECT_NE(report.find(" best "), std::string::npos);
}

}  // namespace
}  // namespace zemlix
