#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "sim/Progress.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

TEST(DataSafety, MistakesOnTheCommandLineAreRefusedBeforeAnythingRuns) {
  TScratchDirectory dir;
  testing::WriteFile(dir.Path / "good.txt", "precious\n");
  std::filesystem::create_directory(dir.Path / "folder");
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{"--dump", dir / "good.txt", "--csv", dir / "./good.txt"},
       "--dump and --csv: both name the file " + (dir / "./good.txt")},
      {{"--plot", dir / "good.txt", "--csv", dir / "good.txt"}, "--csv and --plot: both name the file " + (dir / "good.txt")},
      {{"--load", dir / "good.txt", "--csv", dir / "good.txt"}, "--csv and --load: both name the file " + (dir / "good.txt")},
      {{"--dump", "/dev/stdout", "--csv", "-"}, "--dump and --csv: both name standard output"},
      {{"--csv", "/dev/fd/1", "--plot", "/proc/self/fd/1"}, "--csv and --plot: both name the file /proc/self/fd/1"},
      {{"--load", ""}, "--load: the file name is empty"},
      {{"--dump", ""}, "--dump: the file name is empty"},
      {{"--csv", ""}, "--csv: the file name is empty"},
      {{"--plot", ""}, "--plot: the file name is empty"},
      {{"--jobs", "2"}, "--jobs: only a batch (--seeds) runs on several threads"},
      {{"--generations", "200", "--csv", dir / "folder"}, "cannot write " + (dir / "folder") + ": Is a directory"},
      {{"--generations", "200", "--dump", dir / "missing/d.txt"},
       "cannot write " + (dir / "missing/d.txt") + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--quiet", "--seed", "1"};
    if (c.Args[0] == "--load") args = {"--quiet"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    SCOPED_TRACE(args.back());
    const auto start = std::chrono::steady_clock::now();
    const auto run = RunSim(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));  // not after the run
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Error, "zemlix-sim: " + c.Message + "\n");
    EXPECT_EQ(ReadFile(dir.Path / "good.txt"), "precious\n");
  }
}

// A stream whose every write fails, as standard output does on a full disk.
class TFullDisk : public std::streambuf {
 protected:
  int_type overflow(int_type) override {
    errno = ENOSPC;
    return traits_type::eof();
  }
};

TEST(DataSafety, LostStandardOutputIsAFailure) {
  const std::vector<std::vector<const char*>> cases = {
      {"zemlix-sim", "--help"},
      {"zemlix-sim", "--version"},
      {"zemlix-sim", "--quiet", "--seed", "1", "--lifetime", "500", "--ticks", "1000"},
      {"zemlix-sim", "--quiet", "--seed", "1", "--lifetime", "500", "--ticks", "1000", "--csv", "-"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[1]);
    TFullDisk full;
    std::ostream out(&full);
    std::ostringstream error;
    const TParseResult parsed = ParseRunnerOptions(static_cast<int>(args.size()), args.data(), out, error);
    const int status = parsed.Options ? RunHeadless(*parsed.Options, out, error) : parsed.ExitStatus;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(error.str(), "zemlix-sim: cannot write standard output: No space left on device\n");
  }
}

TEST(DataSafety, TheProgressBarIsErasedBeforeAReportLine) {
  std::ostringstream terminal;
  TProgressBar bar(terminal, true, 100, 0);
  bar.WriteLine(terminal, "generation 1 average 2.0000 best 3\n");
  EXPECT_EQ(terminal.str().substr(terminal.str().rfind('\r')), "\r\033[Kgeneration 1 average 2.0000 best 3\n");
}

// Runs the real program, stops it with `signal` once its checkpoint file holds a state, and
// returns the exit status the shell would show.
int StopWith(int signal, const TScratchDirectory& dir, std::vector<std::string> args) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(ZEMLIX_SIM_PATH)};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(ZEMLIX_SIM_PATH, argv.data());
    ::_exit(127);
  }
  for (int wait = 0; wait < 500 && ReadFile(dir.Path / "run.dump").find("\nend\n") == std::string::npos; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(child, signal);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(DataSafety, ASignalLeavesTheLastWholeStateAndNoTemporaries) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    TScratchDirectory dir;
    const int status = StopWith(signal, dir,
                                {"--quiet", "--seed", "4", "--bugs", "200", "--food", "100", "--ticks", "1000000",
                                 "--dump-every", "20", "--dump", dir / "run.dump", "--csv", dir / "run.csv"});
    EXPECT_EQ(status, 128 + signal);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.dump"});  // the CSV's temporary is gone
    // The checkpoint continues; a state cut short at its end is passed over with a note.
    const auto resumed = RunSim({"--quiet", "--load", dir / "run.dump", "--ticks", "1", "--dump", "-"});
    EXPECT_EQ(resumed.Status, 0) << resumed.Error;
    EXPECT_NE(resumed.Out.find("state tick="), std::string::npos);
  }
}

}  // namespace
}  // namespace zemlix
