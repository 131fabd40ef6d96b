#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "files/Checksum.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;
using testing::WriteFile;

using TLines = std::vector<std::string>;

TLines SplitLines(const std::string& text) {
  TLines lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const TLines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Replaces field `index` (0 = the keyword) of a line.
void SetField(std::string& line, size_t index, const std::string& value) {
  size_t start = 0;
  for (size_t k = 0; k < index; ++k) start = line.find(' ', start) + 1;
  const size_t end = line.find(' ', start);
  line.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
}

std::string ValidDump() {
  static const std::string dump =
      testing::WithoutChecksums(RunSim({"--quiet", "--seed", "3", "--lifetime", "500", "--ticks", "600", "--dump", "-"}).Out);
  return dump;
}

// Line numbers of one state: 1 the header, 2..201 bugs, 202..301 food, 302..501 nets, 502 end.
struct TCorruption {
  const char* What;
  std::function<void(TLines&)> Change;
  std::string Expected;  // after "damaged:"
};

TEST(SavedState, DamagedFilesAreRejectedNamingTheLineAndNothingRuns) {
  const std::vector<TCorruption> cases = {
      {"truncated between lines", [](TLines& l) { l.resize(299); }, "300: the file ends here, before 'food 98 ...'"},
      {"truncated inside the last net", [](TLines& l) { l[500].resize(l[500].find(' ', 100)); },
       "501: 'net 199 ...': expected 46 fields, found"},
      {"no end", [](TLines& l) { l.pop_back(); }, "502: the file ends here, before 'end'"},
      {"empty", [](TLines& l) { l.clear(); }, "1: the file holds no state"},
      {"two bugs swapped", [](TLines& l) { std::swap(l[5], l[6]); }, "6: expected 'bug 4 ...', found 'bug 5 "},
      {"a net line missing", [](TLines& l) { l.erase(l.begin() + 400); }, "401: expected 'net 99 ...', found 'net 100 "},
      {"a stray space", [](TLines& l) { l[9] += ' '; }, "10: empty field"},
      {"NaN heading", [](TLines& l) { SetField(l[9], 4, "nan"); }, "10: bug 8 Heading: 'nan' is not a finite real"},
      {"infinite weight", [](TLines& l) { SetField(l[399], 5, "inf"); }, "400: net 98 weight 3: 'inf' is not a finite real"},
      {"overflowing real", [](TLines& l) { SetField(l[250], 2, "1e999"); }, "251: food 49 X: '1e999' is not a finite real"},
      {"hexadecimal real", [](TLines& l) { SetField(l[250], 3, "0x1p3"); }, "251: food 49 Y: '0x1p3' is not a finite real"},
      {"a bug off the field", [](TLines& l) { SetField(l[20], 2, "400.5"); }, "21: bug 19 X 400.5 lies outside the field"},
      {"a word for a fitness", [](TLines& l) { SetField(l[4], 8, "x"); }, "5: bug 3 fitness: 'x' is not an integer"},
      {"too many bugs", [](TLines& l) { SetField(l[0], 8, "bugs=100001"); }, "1: bugs: 100001 is outside 5 to 100000"},
      {"negative seed", [](TLines& l) { SetField(l[0], 7, "seed=-1"); }, "1: seed: -1 is outside 0 to 4294967295"},
      {"misspelt key", [](TLines& l) { SetField(l[0], 2, "generatoin=1"); }, "1: expected generation=<value> as field 3"},
      {"countdown out of step", [](TLines& l) { SetField(l[0], 3, "ttl=401"); },
       "1: tick=600 disagrees with generation, ttl and lifetime (expected 599)"},
      {"countdown at zero", [](TLines& l) { SetField(l[0], 3, "ttl=0"); }, "1: ttl=0 is outside 1 to the lifetime 500"},
      {"a total the counters cannot hold",
       [](TLines& l) {
         long long others = 0;
         for (int i = 2; i <= 30; ++i) others += std::stoll(l[i].substr(l[i].rfind(' ') + 1));
         SetField(l[0], 4, "total=2147483000");
         SetField(l[1], 8, std::to_string(2147483000 - others));
       },
       "1: total=2147483000 leaves the counters no room for the rest of the generation"},
      {"something after the end", [](TLines& l) { l.push_back("garbage"); },
       "503: expected another 'state ...' or the end of the file, found 'garbage'"},
      {"networks of another size", [](TLines& l) { for (size_t i = 301; i < 501; ++i) l[i].resize(l[i].rfind(' ')); },
       "302: the networks have 44 weights, the file 43"},
      {"a damaged first state of two",
       [](TLines& l) {
         TLines second = l;
         SetField(l[0], 9, "food=4");
         l.insert(l.end(), second.begin(), second.end());
       },
       "1: food: 4 is outside 5 to 100"},
  };
  const TLines valid = SplitLines(ValidDump());
  ASSERT_EQ(valid.size(), 502u);
  TScratchDirectory dir;
  for (const TCorruption& corruption : cases) {
    SCOPED_TRACE(corruption.What);
    TLines lines = valid;
    corruption.Change(lines);
    testing::WriteFile(dir.Path / "damaged", JoinLines(lines));
    const auto run = RunSim({"--load", dir / "damaged", "--csv", dir / "rows.csv", "--dump", dir / "after"});
    EXPECT_EQ(run.Status, 2);
    const std::string prefix = "zemlix-sim: --load: " + (dir / "damaged") + ":";
    EXPECT_EQ(run.Error.rfind(prefix + corruption.Expected, 0), 0u) << run.Error;
    EXPECT_EQ(std::count(run.Error.begin(), run.Error.end(), '\n'), 1) << run.Error;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"damaged"}) << "something was written";
  }
}

// What the window's feed and punish leave (a fitness above or below what was eaten, even
// negative, and a total that does not sum the bugs) is a world like any other: it loads
// and runs on.
TEST(SavedState, AWorldFedOrPunishedLoadsAndRunsOn) {
  const std::pair<const char*, std::string> cases[] = {{"fed", "1000"}, {"punished", "-1"}, {"far below", "-70000"}};
  TScratchDirectory dir;
  for (const auto& [what, fitness] : cases) {
    SCOPED_TRACE(what);
    TLines lines = SplitLines(ValidDump());
    SetField(lines[1], 8, fitness);
    testing::WriteFile(dir.Path / "saved", JoinLines(lines));
    const auto run = RunSim({"--quiet", "--load", dir / "saved", "--ticks", "500", "--csv", dir / "rows.csv"});
    EXPECT_EQ(run.Status, 0) << run.Error;
    const std::string rows = testing::ReadFile(dir.Path / "rows.csv");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;  // the header and the generation that ends
  }
}

TEST(SavedState, ARunThatWouldOverflowTheGenerationCountIsRefused) {
  TLines lines = SplitLines(ValidDump());  // generation 1, ttl 400, lifetime 500
  SetField(lines[0], 2, "generation=2147483647");
  TScratchDirectory dir;
  WriteFile(dir.Path / "saved", JoinLines(lines));
  const auto atTheLimit = RunSim({"--load", dir / "saved"});
  EXPECT_EQ(atTheLimit.Status, 2);
  EXPECT_NE(atTheLimit.Error.find(":1: generation: 2147483647 is outside 0 to 2147483646"), std::string::npos);

  // A run may reach the highest generation a file holds, and what it writes loads again.
  SetField(lines[0], 1, "tick=1073741822600");
  SetField(lines[0], 2, "generation=2147483645");
  WriteFile(dir.Path / "saved", JoinLines(lines));
  const auto lastGeneration = RunSim({"--quiet", "--load", dir / "saved", "--ticks", "899", "--dump", dir / "last"});
  EXPECT_EQ(lastGeneration.Status, 0) << lastGeneration.Error;
  EXPECT_EQ(ReadFile(dir.Path / "last").rfind("state tick=1073741823499 generation=2147483646 ttl=1 ", 0), 0u);
  EXPECT_EQ(RunSim({"--quiet", "--load", dir / "last", "--ticks", "0"}).Status, 0);
  const auto wouldOverflow = RunSim({"--quiet", "--load", dir / "saved", "--ticks", "900", "--dump", dir / "after"});
  EXPECT_EQ(wouldOverflow.Status, 2);
  EXPECT_EQ(wouldOverflow.Error,
            "zemlix-sim: the run would take the generation count past 2147483646, the most a world file can hold\n");
  std::filesystem::remove(dir.Path / "last");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"saved"});
  EXPECT_EQ(RunSim({"--quiet", "--ticks", "18446744073709551615", "--dump", "-"}).Status, 2);
}

TEST(SavedState, TheSameStateTwiceAndANegativeZeroLoad) {
  TLines lines = SplitLines(ValidDump());
  // A negative zero is what %.17g writes for -0.0, so it must read back.
  SetField(lines[30], 6, "-0");
  TLines twice = lines;
  twice.insert(twice.end(), lines.begin(), lines.end());
  TScratchDirectory dir;
  WriteFile(dir.Path / "saved", JoinLines(twice));
  const auto run = RunSim({"--quiet", "--load", dir / "saved", "--ticks", "0", "--dump", "-"});
  EXPECT_EQ(run.Status, 0) << run.Error;
  EXPECT_TRUE(testing::WithoutChecksums(run.Out) == JoinLines(lines));
}

// The state's lines with the check line a run writes before its "end".
std::string WithChecksum(const TLines& lines) {
  TChecksum checksum;
  std::string text;
  for (const std::string& line : lines) {
    if (line == "end") text += "check " + FormatChecksum(checksum.Value) + "\n";
    checksum.Add(line + "\n");
    text += line + "\n";
  }
  return text;
}

// Beyond the window's counts a generation's total may pass 32 bits: it is counted in 64,
// and a bug's own count must have room for the rest of the generation (the most it can eat
// is every pellet in every tick left), which every file a run writes has.
TEST(SavedState, FitnessNearThe32BitLimitGivesTheTrueTotalOrIsRefused) {
  // 201 bugs and 10 pellets after 10 ticks: 490 ticks left, so a bug's count may be at
  // most 2147483647 - 4900.
  const TLines base = SplitLines(testing::WithoutChecksums(
      RunSim({"--quiet", "--seed", "3", "--bugs", "201", "--food", "10", "--lifetime", "500", "--ticks", "10",
              "--dump", "-"})
          .Out));
  ASSERT_EQ(base[0].rfind("state tick=10 generation=0 ttl=490 ", 0), 0u) << base[0];
  const struct {
    int64_t First, Second;
    std::string Refusal;  // empty: loads
  } cases[] = {
      {2147478000, 2147478000, ""},
      {2147478747, 1, ""},
      {2147483646, 2147483646,
       ":2: bug 0 fitness 2147483646 leaves its counter no room for the rest of the generation (490 ticks of up "
       "to 10 pellets)"},
      {5, 2147478748,
       ":3: bug 1 fitness 2147478748 leaves its counter no room for the rest of the generation (490 ticks of up to "
       "10 pellets)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.First) + " " + std::to_string(c.Second));
    TLines lines = base;
    SetField(lines[1], 8, std::to_string(c.First));
    SetField(lines[2], 8, std::to_string(c.Second));
    int64_t total = 0;
    for (int bug = 0; bug < 201; ++bug) total += std::stoll(lines[1 + bug].substr(lines[1 + bug].rfind(' ') + 1));
    SetField(lines[0], 4, "total=" + std::to_string(total));
    TScratchDirectory dir;
    WriteFile(dir.Path / "saved", WithChecksum(lines));
    const auto run = RunSim({"--quiet", "--load", dir / "saved", "--generations", "1", "--csv", "-"});
    if (!c.Refusal.empty()) {
      EXPECT_EQ(run.Status, 2);
      EXPECT_EQ(run.Error, "zemlix-sim: --load: " + (dir / "saved") + c.Refusal + "\n");
      EXPECT_EQ(run.Out, "");
      continue;
    }
    ASSERT_EQ(run.Status, 0) << run.Error;
    // generation,average,best,worst,total: the total at least the file's, the average its share.
    const TLines rows = SplitLines(run.Out);
    ASSERT_EQ(rows.size(), 2u) << run.Out;
    std::istringstream row(rows[1]);
    std::string generation, average, best, worst, rowTotal;
    std::getline(row, generation, ',');
    std::getline(row, average, ',');
    std::getline(row, best, ',');
    std::getline(row, worst, ',');
    std::getline(row, rowTotal, ',');
    EXPECT_GE(std::stoll(rowTotal), total) << rows[1];
    EXPECT_LE(std::stoll(rowTotal), total + 490 * 10 * 201) << rows[1];
    EXPECT_EQ(std::stod(average), static_cast<double>(static_cast<long double>(std::stoll(rowTotal)) / 201)) << rows[1];
    EXPECT_GE(std::stoll(best), std::max(c.First, c.Second)) << rows[1];
  }
}

}  // namespace
}  // namespace zemlix
