#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Errors.h"
#include "tests/world/TestHost.h"
#include "world/NetworkLog.h"
#include "world/World.h"

namespace zemlix {
namespace {

namespace fs = std::filesystem;

std::tm FixedTime(int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = 126;
  time.tm_mon = 11;
  time.tm_mday = 8;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

class NetworkLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() /
                ("zemlix-log-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
  }
  void TearDown() override {
    fs::permissions(directory, fs::perms::owner_all);
    fs::remove_all(directory);
  }
  std::string Contents() const {
    std::ifstream in(directory / "NN.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  TNetworkLog Log(int hour = 14, int minute = 5, int second = 9) const {
    return TNetworkLog(directory, [=] { return FixedTime(hour, minute, second); });
  }

  fs::path directory;
};

TEST_F(NetworkLogTest, FirstRunWritesTheHeaderThenTheStartLine) {
  const TNetworkLog log = Log();
  EXPECT_FALSE(log.LogExists());
  log.WriteStarted();
  const std::string when = FormatLogDateTime(FixedTime(14, 5, 9));
  EXPECT_EQ(Contents(),
            "NN Log Created: " + when + "\r\n"
            "IN0 = Closest Normalized Food Vector X\r\n"
            "IN1 = Closest Normalized Food Vector Y\r\n"
            "IN2 = Normalized Directional Vector X\r\n"
            "IN3 = Normalized Directional Vector Y\r\n"
            "OUT0 = Left Impulse\r\n"
            "OUT1 = Right Impulse\r\n"
            "Program Started: " + when + "\r\n");
}

TEST_F(NetworkLogTest, ASecondRunAppendsWithoutANewHeader) {
  Log().WriteStarted();
  Log().WriteClosed();
  const std::string firstRun = Contents();
  Log().WriteStarted();
  const std::string when = FormatLogDateTime(FixedTime(14, 5, 9));
  EXPECT_EQ(Contents(), firstRun + "Program Started: " + when + "\r\n");
  EXPECT_NE(firstRun.find("Program Closed: " + when + "\r\n"), std::string::npos);
}

TEST_F(NetworkLogTest, MidnightWritesTheDateAlone) {
  EXPECT_EQ(FormatLogDateTime(FixedTime(0, 0, 0)).find(' '), std::string::npos);
  const std::string oneSecondLater = FormatLogDateTime(FixedTime(0, 0, 1));
  EXPECT_EQ(oneSecondLater.substr(0, oneSecondLater.find(' ')), FormatLogDateTime(FixedTime(0, 0, 0)));
  EXPECT_NE(oneSecondLater.find("00:00:01"), std::string::npos);
}

TEST_F(NetworkLogTest, ExecuteLineFormat) {
  const double inputs[4] = {1 / std::sqrt(2.0), 1 / std::sqrt(2.0), -0.479425538604203, 0.8775825618903728};
  EXPECT_EQ(ExecuteLine(3, inputs, 0.512345678, 0.487654321),
            "Execute[3]: IN0: 0.70710678 IN1: 0.70710678 IN2: -0.47942554 IN3: 0.87758256 "
            "OUT0: 0.51234568 OUT1: 0.48765432");
}

TEST_F(NetworkLogTest, WriteLogDoesNotCreateAMissingFile) {
  try {
    Log().WriteLog("x");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
    EXPECT_EQ(e.ErrorCode, 2);
  }
  EXPECT_FALSE(fs::exists(directory / "NN.log"));
}

TEST_F(NetworkLogTest, FailuresRaiseTheTablesMessages) {
  if (::geteuid() == 0) {
    // root ignores permissions; a directory in the file's place still fails to open.
    fs::create_directory(directory / "NN.log");
    try {
      Log().CreateLog();
      FAIL() << "no error";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), "File access denied");
    }
    return;
  }
  fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
  try {
    Log().CreateLog();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
}

TEST_F(NetworkLogTest, RecordingWritesOneLinePerActiveBugPerTick) {
  testing::TTestHost host;
  host.Bugs = 5;
  TWorld world(host, Log());
  world.Random.Seed = 3;
  world.BuildPopulation();
  world.Log.WriteStarted();
  world.Tick();  // not recording
  host.Record = true;
  world.Tick();
  world.Tick();
  host.Record = false;
  world.Tick();
  std::istringstream lines(Contents());
  std::string line;
  int executes = 0, total = 0;
  while (std::getline(lines, line)) {
    ++total;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    if (line.rfind("Execute[", 0) == 0) {
      EXPECT_EQ(line.substr(0, 17), "Execute[" + std::to_string(executes % 5) + "]: IN0: ");
      ++executes;
    }
  }
  EXPECT_EQ(executes, 10);
  EXPECT_EQ(total, 8 + 10);
}

TEST_F(NetworkLogTest, AFailingLogAbandonsTheRestOfTheTick) {
  testing::TTestHost host;
  host.Bugs = 5;
  host.Record = true;
  TWorld world(host, Log());
  world.Random.Seed = 3;
  world.BuildPopulation();
  const TCreature first = world.Creatures[0];
  const uint32_t seed = world.Random.Seed;
  EXPECT_THROW(world.Tick(), EInOutError);  // no NN.log: "File not found"
  EXPECT_EQ(world.Creatures[0].X, first.X);  // bug 0 was not moved
  EXPECT_EQ(world.Random.Seed, seed);        // nothing was eaten
  EXPECT_EQ(world.TimeToLive, 1999);
}

}  // namespace
}  // namespace zemlix
