#include <gtest/gtest.h>

#include <sstream>

#include "files/LineReader.h"
#include "files/WorldFile.h"
#include "tests/world/TestHost.h"

namespace zemlix {
namespace {

// A world a few generations old, its history and the file of it.
struct TSample {
  TSample() : World(Host) {
    Host.Lifetime = 500;
    World.Random.Seed = 5;
    World.OnGenerationEnd = [this](const TGenerationReport& report) { History.push_back(report); };
    World.BuildPopulation();
    for (int tick = 0; tick < 1300; ++tick) World.Tick();
  }
  std::string File() const { return FormatWorldFile(World, 1300, 500, History); }

  testing::TTestHost Host;
  TWorld World;
  std::vector<TGenerationReport> History;
};

TWorldFile Read(const std::string& text, std::string* note = nullptr) {
  std::istringstream in(text);
  return ReadWorld(in, "w", note);
}

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const EDumpError& e) {
    return e.what();
  }
  return "";
}

std::string Without(std::string text, const std::string& line) {
  const size_t at = text.find(line);
  return at == std::string::npos ? text : text.erase(at, text.find('\n', at) + 1 - at);
}

TEST(WorldFile, HistoryAndStateComeBackExactly) {
  const TSample sample;
  ASSERT_EQ(sample.History.size(), 2u);
  const std::string text = sample.File();
  EXPECT_EQ(text.rfind("history 1 ", 0), 0u);
  const TWorldFile file = Read(text);
  ASSERT_EQ(file.History.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(file.History[i].Generation, sample.History[i].Generation);
    EXPECT_EQ(file.History[i].AverageFitness, sample.History[i].AverageFitness);
    EXPECT_EQ(file.History[i].BestFitness, sample.History[i].BestFitness);
    EXPECT_EQ(file.History[i].WorstFitness, sample.History[i].WorstFitness);
    EXPECT_EQ(file.History[i].TotalFitness, sample.History[i].TotalFitness);
  }
  EXPECT_EQ(file.State.Generation, 2);
  EXPECT_EQ(file.State.Tick, 1300u);
  // Older files: no history and no checksum still load.
  const TWorldFile old = Read(Without(Without(Without(text, "history 1 "), "history 2 "), "check "));
  EXPECT_TRUE(old.History.empty());
  EXPECT_EQ(old.State.Seed, file.State.Seed);
}

TEST(WorldFile, DamageIsRefusedNamingTheLine) {
  const TSample sample;
  const std::string text = sample.File();
  const auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string changed = text;
    return changed.replace(changed.find(from), from.size(), to);
  };
  const std::string bugLine = text.substr(text.find("\nbug 7 ") + 1, 30);
  std::string flipped = bugLine;
  flipped[12] = flipped[12] == '1' ? '2' : '1';
  const struct {
    const char* What;
    std::string Text;
    std::string Expected;
  } cases[] = {
      {"a digit changed", replaced(bugLine, flipped), "w:704: the checksum does not match the state"},
      {"a gap in the history", replaced("history 2 ", "history 3 "), "w:2: history: generation 3 does not follow 1"},
      {"a history behind the state", Without(Without(text, "history 2 "), "check "),
       "w:2: the history ends at generation 1, the state is at 2"},
      {"a worst above the best", replaced(text.substr(0, text.find('\n')), "history 1 0.5 3 4 20"),
       "w:1: history worst: 4 is outside 0 to 3"},
      {"a carriage return", replaced("\nend\n", "\nend\r\n"), "w:705: expected 'end', found 'end\\r'"},
      {"zeros", std::string(60, '\0'), "w:1: expected 'state ...', found '\\0\\0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(ErrorOf(c.Text).rfind(c.Expected, 0), 0u) << ErrorOf(c.Text);
  }
}

// The parents follow the networks: bug slot i's on line 504 + i of the sample, the check after
// them. A world file without them (an older one) leaves every parent unknown.
TEST(WorldFile, ParentsComeBackAndDamageToThemIsRefusedNamingTheLine) {
  const TSample sample;
  const std::string text = sample.File();
  ASSERT_TRUE(sample.World.Parentage[0].Known());
  const TWorldFile file = Read(text);
  EXPECT_EQ(file.State.Parentage, sample.World.Parentage);
  testing::TTestHost host;
  host.Lifetime = 500;
  TWorld restored(host);
  RestoreWorld(restored, file.State, "w");
  EXPECT_EQ(restored.Parentage, sample.World.Parentage);

  std::string older = text;
  for (size_t at; (at = older.find("\nparent ")) != std::string::npos;) older.erase(at + 1, older.find('\n', at + 1) - at);
  const TWorldFile old = Read(Without(older, "check "));
  EXPECT_TRUE(old.State.Parentage.empty());
  RestoreWorld(restored, old.State, "w");
  EXPECT_EQ(restored.Parentage, std::vector<TParentage>(200));

  const auto line = [&text](int slot) {
    const size_t at = text.find("\nparent " + std::to_string(slot) + " ") + 1;
    return text.substr(at, text.find('\n', at) + 1 - at);
  };
  const auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string changed = text;
    return changed.replace(changed.find(from), from.size(), to);
  };
  const struct {
    const char* What;
    std::string Text;
    std::string Expected;
  } cases[] = {
      {"a parent beyond the bugs", replaced(line(3), "parent 3 30 1 5 0\n"), "w:507: parent 3 parent a: 30 is outside -1 to 29"},
      {"a point beyond the genes", replaced(line(3), "parent 3 1 2 45 0\n"),
       "w:507: parent 3 crossover point: 45 is outside -1 to 44"},
      {"a line missing", replaced(line(5), ""), "w:509: expected 'parent 5 ...', found 'parent 6 "},
      {"a slot beyond the bugs with parents", replaced(line(30), "parent 30 0 1 2 3\n"),
       "w:534: parent 30: the slot beyond the 30 bugs has parents"},
      {"half unknown", replaced(line(40), "parent 40 -1 -1 -1 0\n"), "w:544: parent 40: a bug without parents has -1"},
      {"a field short", replaced(line(0), "parent 0 1 2 3\n"), "w:504: 'parent 0 ...': expected 6 fields, found 5"},
      {"a digit changed", replaced(line(7), line(7).substr(0, 9) + (line(7)[9] == '1' ? "2" : "1") + line(7).substr(10)),
       "w:704: the checksum does not match the state"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(ErrorOf(c.Text).rfind(c.Expected, 0), 0u) << ErrorOf(c.Text);
  }
}

TEST(WorldFile, AStateCutShortAtTheEndLeavesTheOneBefore) {
  TSample sample;
  const std::string first = sample.File();
  for (int tick = 0; tick < 300; ++tick) sample.World.Tick();  // a generation end on the way
  const std::string second = FormatDump(sample.World, 1600, 500, std::span(&sample.History.back(), 1));
  ASSERT_EQ(second.rfind("history 3 ", 0), 0u);
  // Cut inside the history, the header, a bug, between lines, inside the checksum, before "end".
  for (size_t keep : {size_t{5}, second.find("state") + 9, second.find("\nbug 9 ") + 20, second.find("\nfood 3"),
                      second.find("\ncheck ") + 9, second.size() - 4}) {
    SCOPED_TRACE(keep);
    std::string note;
    const TWorldFile file = Read(first + second.substr(0, keep), &note);
    EXPECT_EQ(file.State.Tick, 1300u);
    EXPECT_EQ(file.History.size(), 2u);
    EXPECT_EQ(note, "w: the state from line 706 is incomplete (the run writing it stopped); the one before it is used");
  }
  std::string note;
  EXPECT_EQ(Read(first + second, &note).State.Tick, 1600u);
  EXPECT_EQ(Read(first + second, &note).History.size(), 3u);
  EXPECT_EQ(note, "");
  // A cut first state has nothing before it; damage that is not at the end is refused.
  EXPECT_NE(ErrorOf(first.substr(0, first.size() - 10)), "");
  EXPECT_NE(ErrorOf(first + second.substr(0, 3000) + "\n" + second), "");
}

TEST(WorldFile, ABugOnTheFieldsEdgeLoads) {
  const TSample sample;
  std::string text = Without(sample.File(), "check ");
  const size_t line = text.find("\nbug 0 ") + 7;
  const size_t afterY = text.find(' ', text.find(' ', line) + 1);
  text.replace(line, afterY - line, "400 400");
  const TWorldFile file = Read(text);
  EXPECT_EQ(file.State.Creatures[0].X, 400.0);
  EXPECT_EQ(file.State.Creatures[0].Y, 400.0);
}

TEST(LineReader, BoundsEveryLineAndEscapesWhatItShows) {
  std::istringstream in("short\n12345678901\n");
  TLineReader reader(in, 10);
  std::string line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "short");
  EXPECT_THROW(
      try { reader.Next(line); } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "line 2 is longer than 10 bytes");
        throw;
      },
      std::length_error);
  // A whole world file's reader refuses a file without line ends as fast.
  EXPECT_EQ(ErrorOf(std::string(TLineReader::DefaultLimit + 1, '\0')), "w: line 1 is longer than 16777216 bytes");

  const std::pair<std::string, std::string> shown[] = {
      {"2000\r", "2000\\r"}, {std::string("a\0b", 3), "a\\0b"}, {"\x7f\xff\t", "\\x7F\\xFF\\t"}, {"\\", "\\\\"}};
  for (const auto& [text, printable] : shown) EXPECT_EQ(Printable(text), printable);
  EXPECT_EQ(Printable(std::string(50, 'x')), std::string(40, 'x') + "...");
}

// The window's feed and punish change a bug's fitness but not the generation's total; a
// world saved after them opens again.
TEST(WorldFile, AWorldFedAndPunishedInTheWindowOpensAgain) {
  TSample sample;
  sample.World.Nets[0].Fitness += 3;
  sample.World.Nets[1].Fitness -= 50;
  const TWorldFile file = Read(sample.File());
  EXPECT_EQ(file.State.Creatures[0].Fitness, sample.World.Nets[0].Fitness);
  EXPECT_EQ(file.State.Creatures[1].Fitness, sample.World.Nets[1].Fitness);
  EXPECT_EQ(file.State.TotalFitness, sample.World.TotalFitness);
}

// A file an earlier version of the program wrote, checksum and all: a change to the format
// or to the checksum's arithmetic that reads its own files back but no longer the users'
// fails here.
TEST(WorldFile, AFileWrittenBeforeStillLoads) {
  const TWorldFile file = ReadWorldFile(ZEMLIX_FIXTURES_DIR "/seed7-tick600.world");
  EXPECT_EQ(file.State.Tick, 600u);
  EXPECT_EQ(file.State.Generation, 1);
  EXPECT_EQ(file.State.Seed, 2446870756u);
  EXPECT_TRUE(file.State.Parentage.empty());
}

}  // namespace
}  // namespace zemlix
