#include <gtest/gtest.h>

#include <algorithm>

#include "sim/Journal.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;
using testing::WriteFile;

const std::vector<std::string> Sweep = {"--bugs", "30", "--lifetime", "500", "--generations", "2", "--seeds", "1-5",
                                        "--jobs", "1"};
const std::string Identity = "--bugs 30 --food 40 --lifetime 500 --generations 2 --seeds 1-5";

testing::TRunResult RunSweep(const TScratchDirectory& dir, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = Sweep;
  args.insert(args.end(), {"--csv", dir / "sweep.csv", "--journal", dir / "journal"});
  args.insert(args.end(), extra.begin(), extra.end());
  return RunSim(args);
}

TEST(Journal, ARerunDoesOnlyWhatIsMissingAndWritesTheSameFiles) {
  TScratchDirectory dir;
  std::vector<std::string> plain = Sweep;
  plain.insert(plain.end(), {"--quiet", "--csv", "-"});
  const std::string expected = RunSim(plain).Out;
  ASSERT_EQ(RunSweep(dir, {"--quiet"}).Status, 0);
  ASSERT_EQ(ReadFile(dir.Path / "sweep.csv"), expected);
  const std::string journal = ReadFile(dir.Path / "journal");
  ASSERT_EQ(journal.rfind("zemlix-sim journal 1\noptions " + Identity + "\nitem 0 2 ", 0), 0u) << journal;

  // Cut where a crash could: at a record's end, inside its first line, inside a row.
  const size_t third = journal.find("item 2 ");
  const struct {
    size_t Length;
    uint64_t ItemsToRun;
    bool CutShort;
  } cuts[] = {{journal.find("item 0 "), 5, false},
              {third, 3, false},
              {third + 9, 3, true},
              {journal.find('\n', third) + 1, 3, true},
              {journal.find('\n', third) + 4, 3, true},
              {journal.size() - 1, 1, true},
              {journal.size(), 0, false}};
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.Length);
    WriteFile(dir.Path / "journal", journal.substr(0, cut.Length));
    WriteFile(dir.Path / "sweep.csv", "an earlier result\n");
    const auto run = RunSweep(dir);
    ASSERT_EQ(run.Status, 0) << run.Error;
    EXPECT_EQ(run.Error.find("journal ends in an item cut short, which runs again\n") != std::string::npos,
              cut.CutShort)
        << run.Error;
    EXPECT_NE(run.Error.find("zemlix-sim: " + std::to_string(cut.ItemsToRun * 1000) + " ticks in "), std::string::npos)
        << run.Error;
    EXPECT_EQ(ReadFile(dir.Path / "sweep.csv"), expected);
    EXPECT_EQ(ReadFile(dir.Path / "journal"), journal);  // one thread: the same order of items
  }
  // A new journal may also be an empty file made beforehand.
  WriteFile(dir.Path / "journal", "");
  EXPECT_EQ(RunSweep(dir, {"--quiet"}).Status, 0);
  EXPECT_EQ(ReadFile(dir.Path / "journal"), journal);
  EXPECT_EQ(dir.Names().size(), 2u);
}

// Items of a swept lifetime run their own ticks: a rerun's count is the sum of the missing
// items' (500 ticks a generation at the first point, 1000 at the second). The base lifetime
// decides nothing, so a rerun may give another.
TEST(Journal, ALifetimeSweepRerunRunsTheMissingItemsOwnTicks) {
  TScratchDirectory dir;
  const std::vector<std::string> sweep = {"--bugs", "30", "--sweep", "lifetime=500,1000", "--generations", "2",
                                          "--seeds", "1-2", "--jobs", "1"};
  const auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = sweep;
    args.insert(args.end(), {"--csv", dir / "sweep.csv", "--journal", dir / "journal"});
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSim(args);
  };
  ASSERT_EQ(run({"--quiet"}).Status, 0);
  const std::string expected = ReadFile(dir.Path / "sweep.csv");
  const std::string journal = ReadFile(dir.Path / "journal");
  ASSERT_EQ(journal.rfind("zemlix-sim journal 1\noptions --bugs 30 --food 40 --generations 2 --seeds 1-2 --sweep "
                          "lifetime=500,1000\nitem 0 2 ",
                          0),
            0u)
      << journal;
  const struct {
    std::string Cut;
    std::vector<std::string> Extra;
    uint64_t Ticks;
  } cases[] = {{"item 1 ", {}, 1000 + 2000 + 2000}, {"item 2 ", {}, 2000 + 2000},
               {"item 3 ", {"--lifetime", "700"}, 2000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Cut);
    WriteFile(dir.Path / "journal", journal.substr(0, journal.find(c.Cut)));
    WriteFile(dir.Path / "sweep.csv", "an earlier result\n");
    const auto rerun = run(c.Extra);
    ASSERT_EQ(rerun.Status, 0) << rerun.Error;
    EXPECT_EQ(rerun.Error.rfind("zemlix-sim: " + std::to_string(c.Ticks) + " ticks in ", 0), 0u) << rerun.Error;
    EXPECT_EQ(ReadFile(dir.Path / "sweep.csv"), expected);
    EXPECT_EQ(ReadFile(dir.Path / "journal"), journal);
  }
}

TEST(Journal, DamagedOrForeignJournalsAreRefusedAndNothingIsOverwritten) {
  TScratchDirectory dir;
  ASSERT_EQ(RunSweep(dir, {"--quiet"}).Status, 0);
  const std::string good = ReadFile(dir.Path / "journal");
  const std::string path = dir / "journal";
  const size_t second = good.find("item 1 ");
  const size_t secondRows = good.find('\n', second) + 1;
  const size_t third = good.find("item 2 ");

  std::string damagedRow = good;
  damagedRow[secondRows] = damagedRow[secondRows] == '2' ? '3' : '2';
  std::string misspelt = good;
  misspelt.replace(second, 4, "itme");
  std::string renumbered = good.substr(third, good.find("item 3 ") - third);
  renumbered.replace(0, 6, "item 3");
  std::string countDamaged = good;
  countDamaged.replace(countDamaged.find(' ', countDamaged.find("item 0 ") + 5), 3, " 9999 ");
  // A record with a right checksum but an index past the sweep, as only another sweep writes.
  TScratchDirectory other;
  TJournalWriter(other / "journal", Identity, {{7, "8,1,0.5,3,0,15\n"}}).Close();
  const std::string beyond = ReadFile(other.Path / "journal");

  const struct {
    std::string Journal;
    std::vector<std::string> Extra;
    std::string Message;
  } cases[] = {
      {good, {"--food", "41"},
       path + " was written for other options (" + Identity + "), not for these (--bugs 30 --food 41 --lifetime 500 "
       "--generations 2 --seeds 1-5)"},
      {"seed,generation,average\n", {}, path + " is not a zemlix-sim journal (it begins \"seed,generation,average\")"},
      {good.substr(0, good.find('\n') + 1) + "option\n", {}, path + " line 2: expected the options line"},
      {damagedRow, {}, path + " line 6: item 1 does not match its checksum"},
      {misspelt, {}, path + " line 6: expected \"item INDEX ROWS CHECKSUM\", found \"itme 1 2 "},
      {good + good.substr(second, third - second), {}, path + " line 18: item 1 is there twice"},
      {beyond, {}, path + " line 3: item 7 is beyond the last of this sweep's 5 items"},
      {good.substr(0, third) + std::string(5000, 'x') + "\n", {}, path + " line 9: expected \"item INDEX ROWS CHECKSUM\""},
      // The checksum covers the index: a record cannot be credited to another item.
      {good.substr(0, third) + renumbered, {}, path + " line 9: item 3 does not match its checksum"},
      {countDamaged, {}, path + " line 3: item 0 claims 9999 rows, but line 6 begins another record"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    WriteFile(dir.Path / "journal", c.Journal);
    WriteFile(dir.Path / "sweep.csv", "an earlier result\n");
    const auto run = RunSweep(dir, c.Extra);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Error.rfind("zemlix-sim: --journal: " + c.Message, 0), 0u) << run.Error;
    EXPECT_EQ(std::count(run.Error.begin(), run.Error.end(), '\n'), 1) << run.Error;
    EXPECT_EQ(ReadFile(dir.Path / "journal"), c.Journal);
    EXPECT_EQ(ReadFile(dir.Path / "sweep.csv"), "an earlier result\n");
    EXPECT_EQ(dir.Names().size(), 2u);
  }
}

TEST(Journal, EveryLineTheWriterWritesReadsBack) {
  TScratchDirectory dir;
  // A sweep over hundreds of values has an options line of many kilobytes.
  const std::string identity = "--sweep mutation_rate=" + std::string(100000, '1');
  TJournalWriter(dir / "journal", identity, {{0, "1,1,0.5,3,0,15\n"}, {3, "4,1,0.5,3,0,15\n"}}).Close();
  const TJournalContents contents = ReadJournal(dir / "journal", identity, 4);
  EXPECT_EQ(contents.Finished, (std::map<uint64_t, std::string>{{0, "1,1,0.5,3,0,15\n"}, {3, "4,1,0.5,3,0,15\n"}}));
  EXPECT_FALSE(contents.CutShort);
}

// A journal an earlier version wrote: its records still count, so no finished work is lost
// to a change in the record's checksum or layout.
TEST(Journal, AJournalWrittenBeforeStillResumes) {
  const TJournalContents contents = ReadJournal(ZEMLIX_FIXTURES_DIR "/seeds1-2.journal",
                                                "--bugs 5 --food 5 --lifetime 500 --generations 1 --seeds 1-2", 2);
  EXPECT_EQ(contents.Finished, (std::map<uint64_t, std::string>{{0, "1,1,0,0,0,0\n"}, {1, "2,1,0.59999999999999998,2,0,3\n"}}));
}

}  // namespace
}  // namespace zemlix
