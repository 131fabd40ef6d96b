// Recordings: the frames a video holds are the pictures the window shows, in the window and
// from the command line, and a recording that cannot be made leaves no file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <filesystem>
#include <sstream>

#include "display/HandlerErrors.h"
#include "files/WorldFile.h"
#include "tests/support/PixelDifference.h"
#include "tests/support/Scratch.h"
#include "ui/CommandLine.h"
#include "ui/LaboratoryWindow.h"
#include "video/VideoReader.h"

namespace zemlix::testing {
namespace {

std::vector<uint32_t> Pixels(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    pixels.insert(pixels.end(), row, row + image.width());
  }
  return pixels;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
  }
  void TearDown() override { SetErrorReporter({}); }

  TScratchDirectory scratch;
  std::vector<std::string> errors;
};

TEST_F(RecordingTest, TheWindowRecordsWhatItShows) {
  struct Case {
    const char* Name;
    bool WithPanel;
    int Every;
    double Tolerance;  // mean difference per channel, in levels; 0 is exact
    int Height;
  };
  const Case cases[] = {
      {"field.gif", false, 1, 0.0, 400},
      {"field.mp4", false, 2, 4.0, 400},
      {"panel.webm", true, 1, 4.0, 538},  // 400 + the panel's 137, made even
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TLaboratoryWindow window(TNetworkLog(scratch.Path));
    window.RunsFolder = QString::fromStdString(scratch / "runs");
    window.show();
    QCoreApplication::processEvents();
    window.SetFixedSeed(1);
    window.Client->StartBtn->click();
    window.Client->Timer.SetEnabled(false);
    window.RecordingSettings = TRecordingSettings{c.Every, 25, c.WithPanel};
    const std::string path = scratch / c.Name;
    ASSERT_TRUE(window.StartRecording(QString::fromStdString(path)));
    EXPECT_TRUE(window.statusBar()->currentMessage().startsWith("Recording to "));
    for (int tick = 0; tick < 60 * c.Every; ++tick) window.Client->TimerTimer(0);
    window.Client->RedrawWhilePaused();  // a drawing without a tick adds no frame
    const QImage shown = RecordedPicture(*window.Client, c.WithPanel);
    ASSERT_TRUE(window.StopRecording());
    EXPECT_TRUE(window.statusBar()->currentMessage().startsWith("Recording stopped: 60 frames in "));
    EXPECT_TRUE(window.statusBar()->currentMessage().endsWith(c.Name));

    const TDecodedVideo video = ReadVideo(path);
    ASSERT_EQ(video.Frames.size(), 60u);
    EXPECT_EQ(video.Width, 400);
    EXPECT_EQ(video.Height, c.Height);
    if (!c.WithPanel) {
      EXPECT_EQ(shown, window.Client->WorldView->Presented());
    }
    if (c.Tolerance == 0)
      EXPECT_EQ(video.Frames.back(), Pixels(shown));
    else
      EXPECT_LT(MeanDifference(video.Frames.back(), Pixels(shown)), c.Tolerance);
  }
  EXPECT_EQ(errors, std::vector<std::string>{});
}

TEST_F(RecordingTest, ARecordingThatCannotStartSaysWhy) {
  TLaboratoryWindow window(TNetworkLog(scratch.Path));
  window.RunsFolder = QString::fromStdString(scratch / "runs");
  window.show();
  QCoreApplication::processEvents();
  std::filesystem::create_directory(scratch.Path / "taken.mp4");
  EXPECT_FALSE(window.StartRecording(QString::fromStdString(scratch / "taken.mp4")));
  EXPECT_FALSE(window.Recording());
  EXPECT_EQ(errors, std::vector<std::string>{"The recording was not started: cannot record " + scratch / "taken.mp4" +
                                             ": Is a directory"});
}

// The command line runs the world with no window on screen; its frames are those a shown
// window draws from the same world file after the same ticks. A second world file gives its
// frames after the first's.
TEST_F(RecordingTest, TheCommandLineRecordsEveryKthTick) {
  const std::string world = ZEMLIX_WORLD_FIXTURE;
  TWindowOptions options;
  options.File = world;
  options.Frames = 5;
  options.Recording.Every = 3;
  options.Record = scratch / "run.gif";
  options.RecordAfter = {world};
  std::ostringstream error;
  ASSERT_EQ(RecordFromCommandLine(options, error, TNetworkLog(scratch.Path)), 0) << error.str();
  EXPECT_EQ(error.str(), "");
  const TDecodedVideo video = ReadVideo(options.Record);
  ASSERT_EQ(video.Frames.size(), 10u);

  TMain shown(TNetworkLog(scratch.Path));
  shown.show();
  QCoreApplication::processEvents();
  shown.StartFromSavedState(ReadWorldFile(world).State, world);
  shown.Timer.SetEnabled(false);
  for (int frame = 0; frame < 5; ++frame) {
    for (int tick = 0; tick < 3; ++tick) shown.TimerTimer(0);
    EXPECT_EQ(video.Frames[frame], Pixels(shown.WorldView->Presented())) << "frame " << frame;
    EXPECT_EQ(video.Frames[frame + 5], video.Frames[frame]) << "frame " << frame + 5;
  }
}

TEST_F(RecordingTest, CommandLineFailuresExitWithAStatusAndLeaveNoFile) {
  struct Case {
    std::string World;
    std::string Record;
    int Status;
    std::string Message;
  };
  const std::string world = ZEMLIX_WORLD_FIXTURE;
  std::filesystem::create_directory(scratch.Path / "taken.mp4");
  const Case cases[] = {
      {scratch / "none.world", scratch / "a.mp4", 2, scratch / "none.world"},
      {world, scratch / "taken.mp4", 2, "cannot record " + scratch / "taken.mp4" + ": Is a directory"},
      {world, scratch / "missing/a.gif", 2,
       "cannot record " + scratch / "missing/a.gif" + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Record);
    TWindowOptions options;
    options.File = c.World;
    options.Frames = 3;
    options.Record = c.Record;
    std::ostringstream error;
    EXPECT_EQ(RecordFromCommandLine(options, error, TNetworkLog(scratch.Path)), c.Status);
    const std::string message = error.str();
    EXPECT_NE(message.find(c.Message), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << "one line: " << message;
  }
  std::vector<std::string> names = scratch.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"NN.log", "taken.mp4"}));
}

}  // namespace
}  // namespace zemlix::testing
