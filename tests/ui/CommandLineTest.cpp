#include <gtest/gtest.h>

#include <sstream>

#include "ui/CommandLine.h"

namespace zemlix::testing {
namespace {

TEST(CommandLineTest, OptionsExitStatusAndMessages) {
  struct Case {
    QStringList arguments;
    int status;           // -1: options returned
    const char* printed;  // expected within standard output (status 0) or the error (status 2)
  };
  const Case cases[] = {
      {{"--help"}, 0, "--lifetime <N>"},
      {{"--version"}, 0, "zemlix 0.4.4\n"},
      {{"--bugs", "300"}, 2, "--bugs: '300' is not a whole number from 5 to 200"},
      {{"--food", "4"}, 2, "from 5 to 100"},
      {{"--lifetime", "2000.5"}, 2, "--lifetime: '2000.5'"},
      {{"--speed", "-1"}, 2, "from 0 to 20"},
      {{"--seed", "4294967296"}, 2, "--seed: '4294967296' is not a whole number from 0 to 4294967295"},
      {{"--seed"}, 2, "Missing value after '--seed'"},
      {{"--frobnicate"}, 2, "Unknown option 'frobnicate'"},
      {{"a.world", "b.world"}, 2, "one world file at most, found 2"},
      {{"w.world", "--record", "x.avi", "--frames", "5"}, 2, "--record: 'x.avi' must end in .mp4, .webm or .gif"},
      {{"--record", "x.mp4", "--frames", "5"}, 2, "--record needs a world file to record"},
      {{"w.world", "--record", "x.gif"}, 2, "--record needs --frames"},
      {{"w.world", "--record", "x.gif", "--frames", "0"}, 2, "--frames: '0' is not a whole number from 1 to 1000000"},
      {{"w.world", "--record", "x.gif", "--frames", "5", "--fps", "101"},
       2,
       "--fps: '101' is not a whole number from 1 to 100"},
      {{"w.world", "--every", "3"}, 2, "--every needs --record"},
      {{"w.world", "--with-panel"}, 2, "--with-panel needs --record"},
      {{"--seed", "4294967295", "--bugs", "5", "--food", "100", "--lifetime", "10000", "--speed", "0", "w.world"},
       -1,
       ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out, error;
    const TWindowParseResult result = ParseWindowOptions(QStringList{"zemlix"} + c.arguments, out, error);
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    EXPECT_EQ(result.Options.has_value(), c.status == -1);
    if (c.status == -1) {
      EXPECT_EQ(result.Options->Seed, 4294967295u);
      EXPECT_EQ(result.Options->Lifetime, 10000);
      EXPECT_EQ(result.Options->File, "w.world");
      continue;
    }
    EXPECT_EQ(result.ExitStatus, c.status);
    EXPECT_NE((c.status == 0 ? out : error).str().find(c.printed), std::string::npos) << out.str() << error.str();
    EXPECT_EQ((c.status == 0 ? error : out).str(), "");
  }
}

TEST(CommandLineTest, RecordingOptions) {
  std::ostringstream out, error;
  const TWindowParseResult result = ParseWindowOptions(
      {"zemlix", "w.world", "late.world", "--record", "out.webm", "--frames", "60", "--every", "4", "--fps", "30",
       "--with-panel"},
      out, error);
  ASSERT_TRUE(result.Options) << error.str();
  EXPECT_EQ(result.Options->Record, "out.webm");
  EXPECT_EQ(result.Options->RecordAfter, std::vector<std::string>{"late.world"});
  EXPECT_EQ(result.Options->Frames, 60);
  EXPECT_EQ(result.Options->Recording.Every, 4);
  EXPECT_EQ(result.Options->Recording.FramesPerSecond, 30);
  EXPECT_TRUE(result.Options->Recording.WithPanel);
}

}  // namespace
}  // namespace zemlix::testing
