// NN.log failure drills: the file deleted while recording, a read-only directory, a
// directory in the file's place, a full disk. Each must end in the error of the table,
// leave the world able to go on, and never leave a half-written line in the file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "tests/support/LogLines.h"
#include "tests/support/ScratchMount.h"
#include "tests/world/TestHost.h"
#include "world/NetworkLog.h"
#include "world/World.h"

namespace zemlix {
namespace {

namespace fs = std::filesystem;
using testing::IsWholeLogLine;
using testing::TScratchMount;
using testing::TTestHost;

class LogFailureDrill : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() / ("zemlix-drill-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
    log = TNetworkLog(directory);
    host.Bugs = 10;
    host.FoodPellets = 20;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(directory, fs::perms::owner_all, ignored);
    fs::remove_all(directory, ignored);
  }

  std::string Contents() const {
    std::ifstream in(log.Path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The message of the error the next tick raises, or "" when it raises none.
  std::string TickError(TWorld& world) {
    try {
      world.Tick();
    } catch (const EInOutError& error) {
      return error.what();
    }
    return "";
  }

  // Every line of the file is whole: a header, start or close line, or an Execute line
  // with all six numbers, each ended by CR LF.
  static void ExpectOnlyWholeLines(const std::string& text) {
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << "the file ends inside a line";
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      const std::string line = text.substr(start, end - start);
      EXPECT_TRUE(IsWholeLogLine(line)) << "not a whole line: '" << line << "'";
      start = end + 2;
    }
  }

  fs::path directory;
  TTestHost host;
  TNetworkLog log;
};

TEST_F(LogFailureDrill, FileDeletedWhileRecording) {
  log.WriteStarted();
  TWorld world(host, log);
  world.BuildPopulation();
  host.Record = true;
  ASSERT_EQ(TickError(world), "");
  ExpectOnlyWholeLines(Contents());

  fs::remove(log.Path());
  // Every recording tick fails the same way; nothing in a tick recreates the file.
  EXPECT_EQ(TickError(world), "File not found");
  EXPECT_EQ(TickError(world), "File not found");
  EXPECT_FALSE(fs::exists(log.Path()));

  // Once recording stops the world runs on, through a generation end.
  host.Record = false;
  world.TimeToLive = 2;
  EXPECT_EQ(TickError(world), "");
  EXPECT_EQ(TickError(world), "");
  EXPECT_EQ(world.Generation, 1);

  // The close line brings the file back with its header.
  log.WriteClosed();
  const std::string text = Contents();
  EXPECT_EQ(text.rfind("NN Log Created: ", 0), 0u);
  ExpectOnlyWholeLines(text);
}

TEST_F(LogFailureDrill, WorkingDirectoryReadOnly) {
  TScratchMount mount(directory, "size=64k,mode=0755");
  const bool asRoot = ::geteuid() == 0;
  if (!mount.Mounted() && asRoot) GTEST_SKIP() << "root ignores permissions and mounting is not allowed here";

  log.WriteStarted();
  const std::string before = Contents();
  if (mount.Mounted()) {
    ASSERT_TRUE(mount.MakeReadOnly()) << "a tmpfs that cannot be remounted read-only";
  } else {
    fs::permissions(log.Path(), fs::perms::owner_read);
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
  }

  TWorld world(host, log);
  world.BuildPopulation();
  host.Record = true;
  EXPECT_EQ(TickError(world), "File access denied");
  try {
    log.WriteClosed();
    ADD_FAILURE() << "a write into a read-only directory succeeded";
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "File access denied");
  }
  EXPECT_EQ(Contents(), before);
}

TEST_F(LogFailureDrill, MissingLogInReadOnlyDirectoryCannotBeCreated) {
  TScratchMount mount(directory, "size=64k,mode=0755");
  if (!mount.Mounted() && ::geteuid() == 0) GTEST_SKIP() << "root ignores permissions and mounting is not allowed here";
  if (mount.Mounted())
    ASSERT_TRUE(mount.MakeReadOnly());
  else
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);

  try {
    log.WriteStarted();
    ADD_FAILURE() << "a log was created in a read-only directory";
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "File access denied");
  }
  EXPECT_FALSE(fs::exists(log.Path()));
}

TEST_F(LogFailureDrill, LogIsADirectory) {
  fs::create_directory(directory / "NN.log");
  // It exists, so no header is tried; the start line fails to open it.
  EXPECT_TRUE(log.LogExists());
  try {
    log.WriteStarted();
    ADD_FAILURE() << "a line was written into a directory";
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "File access denied");
  }

  TWorld world(host, log);
  world.BuildPopulation();
  host.Record = true;
  EXPECT_EQ(TickError(world), "File access denied");
  host.Record = false;
  EXPECT_EQ(TickError(world), "");
  EXPECT_TRUE(fs::is_directory(directory / "NN.log"));
  EXPECT_TRUE(fs::is_empty(directory / "NN.log"));
}

// A 16 KiB tmpfs: lines go in until the disk is full, and the line that did not fit is
// cut back whole, even when its first bytes were written.
TEST_F(LogFailureDrill, FullDiskLeavesNoHalfLine) {
  TScratchMount mount(directory, "size=16k,mode=0755");
  if (!mount.Mounted()) {
    // No mount here: /dev/full fails every write with ENOSPC, which shows at least the
    // message and that the caller goes on.
    fs::create_symlink("/dev/full", directory / "NN.log");
    TWorld world(host, log);
    world.BuildPopulation();
    host.Record = true;
    EXPECT_EQ(TickError(world), "Disk full");
    host.Record = false;
    EXPECT_EQ(TickError(world), "");
    return;
  }

  log.WriteStarted();
  // A page-sized filler to free again later.
  {
    std::ofstream filler(directory / "filler", std::ios::binary);
    filler << std::string(4096, 'x');
  }
  TWorld world(host, log);
  world.BuildPopulation();
  host.Record = true;
  std::string error;
  int ticks = 0;
  while (error.empty() && ticks < 1000) {
    error = TickError(world);
    ++ticks;
  }
  ASSERT_EQ(error, "Disk full") << "after " << ticks << " ticks";
  const std::string atFailure = Contents();
  ExpectOnlyWholeLines(atFailure);

  // With room again the next line follows the last whole one directly.
  fs::remove(directory / "filler");
  log.WriteLog("Program Closed: drill");
  const std::string after = Contents();
  EXPECT_EQ(after, atFailure + "Program Closed: drill\r\n");
  ExpectOnlyWholeLines(after);

  // And recording goes on from there.
  EXPECT_EQ(TickError(world), "");
  ExpectOnlyWholeLines(Contents());
}

// A line that fails part way through leaves no trace, over many attempts at every
// possible fill level: the file only ever holds whole lines.
TEST_F(LogFailureDrill, FailedWritesNeverLeaveAPartOfTheirLine) {
  TScratchMount mount(directory, "size=8k,mode=0755");
  if (!mount.Mounted()) GTEST_SKIP() << "needs a size-limited tmpfs (mount not allowed here)";
  log.WriteStarted();
  const double inputs[4] = {0.70710678, -0.5, 0.25, -0.125};
  int failures = 0;
  for (int i = 0; i < 200; ++i) {
    try {
      log.WriteLog(ExecuteLine(i, inputs, 0.5, -0.5));
    } catch (const EInOutError& error) {
      EXPECT_STREQ(error.what(), "Disk full");
      ++failures;
    }
  }
  EXPECT_GT(failures, 0) << "the disk never filled";
  ExpectOnlyWholeLines(Contents());
}

}  // namespace
}  // namespace zemlix
