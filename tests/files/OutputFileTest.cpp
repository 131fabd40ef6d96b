#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include "files/OutputFile.h"
#include "tests/support/Scratch.h"

namespace zemlix {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TScratchDirectory;
using testing::WriteFile;

mode_t ModeOf(const fs::path& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status.st_mode;
}

bool LeavesNoTemporary(const TScratchDirectory& dir) {
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path))
    if (entry.path().filename().string().rfind(".zemlix-", 0) == 0) return false;
  return true;
}

void WriteWhole(const std::string& path, const std::string& text) {
  std::ostringstream unused;
  TOutputFile file(path, unused);
  file.Stream() << text;
  file.Commit();
}

TEST(OutputFile, EachKindOfPathIsWrittenTheWayItsOwnerExpects) {
  const mode_t mask = ::umask(022);
  struct TCase {
    const char* What;
    std::function<std::string(const TScratchDirectory&)> Prepare;  // returns the path to write
    std::function<void(const TScratchDirectory&)> Check;
  };
  const std::vector<TCase> cases = {
      {"a new file takes the usual permissions", [](auto& d) { return d / "new.csv"; },
       [](auto& d) {
         EXPECT_EQ(ReadFile(d.Path / "new.csv"), "new\n");
         EXPECT_EQ(ModeOf(d.Path / "new.csv") & 07777, 0644u);
       }},
      {"an existing file keeps its permission bits",
       [](auto& d) {
         WriteFile(d.Path / "private.csv", "old\n");
         fs::permissions(d.Path / "private.csv", fs::perms::owner_read | fs::perms::owner_write);
         return d / "private.csv";
       },
       [](auto& d) {
         EXPECT_EQ(ReadFile(d.Path / "private.csv"), "new\n");
         EXPECT_EQ(ModeOf(d.Path / "private.csv") & 07777, 0600u);
       }},
      {"a symbolic link stays and its target is replaced",
       [](auto& d) {
         fs::create_directory(d.Path / "sub");
         WriteFile(d.Path / "target.csv", "old\n");
         fs::permissions(d.Path / "target.csv", fs::perms::owner_read | fs::perms::owner_write);
         fs::create_symlink("../target.csv", d.Path / "sub" / "link.csv");  // relative to the link's folder
         fs::create_symlink("sub/link.csv", d.Path / "chain.csv");
         return d / "chain.csv";
       },
       [](auto& d) {
         EXPECT_TRUE(fs::is_symlink(d.Path / "chain.csv"));
         EXPECT_TRUE(fs::is_symlink(d.Path / "sub" / "link.csv"));
         EXPECT_EQ(ReadFile(d.Path / "target.csv"), "new\n");
         EXPECT_EQ(ModeOf(d.Path / "target.csv") & 07777, 0600u);
       }},
      {"a dangling link creates its target",
       [](auto& d) {
         fs::create_symlink("made.csv", d.Path / "dangling.csv");
         return d / "dangling.csv";
       },
       [](auto& d) {
         EXPECT_TRUE(fs::is_symlink(d.Path / "dangling.csv"));
         EXPECT_EQ(ReadFile(d.Path / "made.csv"), "new\n");
       }},
      {"a name of 250 characters", [](auto& d) { return d / std::string(250, 'n'); },
       [](auto& d) { EXPECT_EQ(ReadFile(d.Path / std::string(250, 'n')), "new\n"); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TScratchDirectory dir;
    const std::string path = c.Prepare(dir);
    EXPECT_NO_THROW(WriteWhole(path, "new\n"));
    c.Check(dir);
    EXPECT_TRUE(LeavesNoTemporary(dir));
  }
  ::umask(mask);
}

TEST(OutputFile, AFifoIsWrittenStraightThrough) {
  TScratchDirectory dir;
  const fs::path fifo = dir.Path / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  WriteWhole(fifo, "rows\n");
  reader.join();
  EXPECT_EQ(received, "rows\n");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(LeavesNoTemporary(dir));
}

TEST(OutputFile, APathThatCannotBeWrittenFailsAtOnceWithTheReason) {
  TScratchDirectory dir;
  WriteFile(dir.Path / "plain", "x");
  fs::create_directory(dir.Path / "folder");
  const std::pair<std::string, std::string> cases[] = {
      {dir / "folder", "Is a directory"},
      {dir / "missing/run.csv", "No such file or directory"},
      {dir / "plain/run.csv", "Not a directory"},
      {"", "empty name"},
  };
  std::ostringstream unused;
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    try {
      TOutputFile file(path, unused);
      ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(LeavesNoTemporary(dir));
}

TEST(OutputFile, CheckpointsReachTheNameWholeAndStayWhenTheRunStops) {
  TScratchDirectory dir;
  WriteFile(dir.Path / "states", "loaded\n");
  std::ostringstream unused;
  {
    TOutputFile file(dir / "states", unused);
    file.Stream() << "first\n";
    EXPECT_EQ(ReadFile(dir.Path / "states"), "loaded\n");  // nothing lost before a whole state exists
    file.Checkpoint();
    EXPECT_EQ(ReadFile(dir.Path / "states"), "first\n");
    file.Stream() << "second\n";
    file.Checkpoint();
    EXPECT_EQ(ReadFile(dir.Path / "states"), "first\nsecond\n");
    file.Stream() << "unfinished";
  }  // the run stops here, without Commit
  EXPECT_EQ(ReadFile(dir.Path / "states").rfind("first\nsecond\n", 0), 0u);
  EXPECT_TRUE(LeavesNoTemporary(dir));
}

TEST(OutputFile, AFailedWriteIsReportedWithItsReasonAndTheOldFileStays) {
  TScratchDirectory dir;
  WriteFile(dir.Path / "run.csv", "previous\n");
  // A file size limit makes writes fail as a full disk does, without touching any device.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string message;
  try {
    WriteWhole(dir / "run.csv", std::string(200000, 'x'));
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "cannot write " + (dir / "run.csv") + ": File too large");
  EXPECT_EQ(ReadFile(dir.Path / "run.csv"), "previous\n");
  EXPECT_TRUE(LeavesNoTemporary(dir));
}

TEST(OutputFile, SameFileSeesThroughSpellingsAndLinks) {
  TScratchDirectory dir;
  fs::create_directory(dir.Path / "sub");
  WriteFile(dir.Path / "exists", "x");
  fs::create_symlink("exists", dir.Path / "link");
  fs::create_hard_link(dir.Path / "exists", dir.Path / "hard");
  const struct {
    std::string First, Second;
    bool Same;
  } cases[] = {
      {dir / "new.txt", dir / "new.txt", true},
      {dir / "new.txt", dir / "sub/../new.txt", true},
      {dir / "new.txt", dir / "./new.txt", true},
      {dir / "exists", dir / "link", true},
      {dir / "exists", dir / "hard", true},
      {dir / "new.txt", dir / "other.txt", false},
      {"-", "-", true},
      {"-", "/dev/stdout", true},
      {"/dev/fd/1", "/proc/self/fd/1", true},
      {"-", "/dev/stderr", false},
      {"", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(SameOutputFile(c.First, c.Second), c.Same) << c.First << " " << c.Second;
}

TEST(OutputFile, AProcessDescriptorIsWrittenThroughNeverRenamedOver) {
  TScratchDirectory dir;
  WriteFile(dir.Path / "log.txt", "KEEP\n");
  const int appending = ::open((dir / "log.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  int pipeEnds[2];
  ASSERT_TRUE(appending >= 0 && ::pipe(pipeEnds) == 0);
  const std::string appendingName = std::to_string(appending), pipeName = std::to_string(pipeEnds[1]);
  for (const std::string& path : {"/dev/fd/" + appendingName, "/proc/self/fd/" + appendingName}) {
    SCOPED_TRACE(path);
    WriteWhole(path, "rows\n");
    EXPECT_TRUE(SameOutputFile(path, dir / "log.txt"));
    EXPECT_FALSE(SameOutputFile(path, dir / "other.txt"));
  }
  EXPECT_EQ(ReadFile(dir.Path / "log.txt"), "KEEP\nrows\nrows\n");
  WriteWhole("/dev/fd/" + pipeName, "through the pipe\n");
  ::close(pipeEnds[1]);
  char received[64] = {};
  EXPECT_EQ(::read(pipeEnds[0], received, sizeof received - 1), 17);
  EXPECT_STREQ(received, "through the pipe\n");
  // The test's own descriptors stay open: only copies were closed.
  EXPECT_EQ(::fcntl(appending, F_GETFD), FD_CLOEXEC);
  ::close(appending);
  ::close(pipeEnds[0]);

  std::ostringstream standardOutput;
  {
    TOutputFile file("/dev/stdout", standardOutput);
    file.Stream() << "to the caller's stream\n";
    file.Commit();
  }
  EXPECT_EQ(standardOutput.str(), "to the caller's stream\n");
  EXPECT_TRUE(LeavesNoTemporary(dir));
}

TEST(OutputFile, TemporariesOfKilledWritersAreRemovedByTheNextWriterOfTheirTarget) {
  TScratchDirectory dir;
  std::ostringstream unused;
  std::string prefix;  // ".zemlix-<tag>-", as this process names temporaries of run.csv
  {
    TOutputFile file(dir / "run.csv", unused);
    for (const std::string& name : dir.Names())
      if (name.rfind(".zemlix-", 0) == 0) prefix = name.substr(0, name.find('-', 8) + 1);
  }
  ASSERT_FALSE(prefix.empty());
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string stale = prefix + std::to_string(gone) + "-a1b2c3";
  const std::string living = prefix + std::to_string(::getppid()) + "-a1b2c3";
  const std::string otherTarget = ".zemlix-00000000-" + std::to_string(gone) + "-a1b2c3";
  for (const std::string& name : {stale, living, otherTarget}) WriteFile(dir.Path / name, "half\n");
  WriteWhole(dir / "run.csv", "rows\n");
  EXPECT_FALSE(fs::exists(dir.Path / stale));
  EXPECT_TRUE(fs::exists(dir.Path / living));
  EXPECT_TRUE(fs::exists(dir.Path / otherTarget));
  EXPECT_EQ(ReadFile(dir.Path / "run.csv"), "rows\n");
}

TEST(OutputFile, PersistAndCommitForceTheDataOntoTheDisk) {
  TScratchDirectory dir;
  std::ostringstream unused;
  TOutputFile file(dir / "journal", unused);
  const struct {
    const char* Step;
    std::function<void()> Run;
  } steps[] = {
      {"the first checkpoint, before the rename", [&] { file.Checkpoint(); }},
      {"a persist of what was appended", [&] { file.Persist(); }},
      {"the commit", [&] { file.Commit(); }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Step);
    file.Stream() << "record\n";
    const uint64_t before = TOutputFile::DiskSyncs();
    step.Run();
    EXPECT_GE(TOutputFile::DiskSyncs(), before + 1);
  }
}

}  // namespace
}  // namespace zemlix
