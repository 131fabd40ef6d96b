// The window under abuse: NN.log failing in every way a disk can fail, bugs punished far
// below zero, nonsense typed into every box, every control clicked before the first Start,
// and the window closed or destroyed while a frame is running.
#include <unistd.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/LogLines.h"
#include "tests/support/ScratchMount.h"
#include "tests/ui/WindowFixture.h"
#include "world/Settings.h"

namespace zemlix::testing {
namespace {

namespace fs = std::filesystem;

class HardeningTest : public WindowTest {
 protected:
  // One frame the way the frame timer runs it: errors end up in `errors`.
  void Frame() { window->Timer.OnTimer(window->Timer, 1); }

  // Runs the event loop until `done` or the time is up; false on timeout.
  template <typename Condition>
  static bool SpinUntil(Condition done, int milliseconds = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
      if (clock.elapsed() > milliseconds) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }

  // After a failure the window must still work: frames run, a generation ends, a restart
  // builds a fresh population, the buttons act, and no further error appears.
  void ExpectStillUsable() {
    const size_t reported = errors.size();
    for (int i = 0; i < 5; ++i) Frame();
    window->World.TimeToLive = 1;
    const int generation = window->World.Generation;
    Frame();
    EXPECT_EQ(window->World.Generation, generation + 1);
    QTest::mouseClick(window->StartBtn, Qt::LeftButton);
    EXPECT_TRUE(window->World.HasPopulation());
    EXPECT_EQ(window->World.Generation, 0);
    window->Timer.SetEnabled(false);
    window->CreatureSelector->SetValue(1);
    QTest::mouseClick(window->FeedCreatureBtn, Qt::LeftButton);
    EXPECT_EQ(window->World.Nets[1].Fitness, 1);
    Frame();
    EXPECT_EQ(errors.size(), reported) << (errors.empty() ? "" : errors.back());
  }

  // Frames with recording on until the first error; how many ran is capped.
  void RecordUntilError(int maxFrames = 2000) {
    window->RecordNNIOBox->setChecked(true);
    for (int i = 0; i < maxFrames && errors.empty(); ++i) Frame();
  }

  // The window's log moved onto a fresh tmpfs over its directory, same contents.
  std::string ReadLog() const { return LogText(); }
  void WriteLog(const std::string& text) const {
    std::ofstream out(directory / "NN.log", std::ios::binary);
    out << text;
  }

  static void ExpectOnlyWholeLines(const std::string& text) {
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << "the file ends inside a line";
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      const std::string line = text.substr(start, end - start);
      ASSERT_TRUE(IsWholeLogLine(line)) << "not a whole line: '" << line << "'";
      start = end + 2;
    }
  }
};

// ---- NN.log failure drills -------------------------------------------------------------

TEST_F(HardeningTest, LogDeletedWhileRecording) {
  Start();
  window->RecordNNIOBox->setChecked(true);
  Frame();
  ASSERT_TRUE(errors.empty());
  fs::remove(directory / "NN.log");
  RecordUntilError();
  ASSERT_EQ(errors, std::vector<std::string>{"File not found"});
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  EXPECT_FALSE(fs::exists(directory / "NN.log"));
  ExpectStillUsable();

  // Checking the box again reports the failure again, once.
  window->RecordNNIOBox->setChecked(true);
  Frame();
  Frame();
  EXPECT_EQ(errors, (std::vector<std::string>{"File not found", "File not found"}));
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
}

TEST_F(HardeningTest, WorkingDirectoryReadOnly) {
  const std::string before = ReadLog();
  TScratchMount mount(directory, "size=64k,mode=0755");
  if (!mount.Mounted() && ::geteuid() == 0) GTEST_SKIP() << "root ignores permissions and mounting is not allowed here";
  if (mount.Mounted()) {
    WriteLog(before);
    ASSERT_TRUE(mount.MakeReadOnly());
  } else {
    fs::permissions(directory / "NN.log", fs::perms::owner_read);
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
  }
  Start();
  RecordUntilError(5);
  ASSERT_EQ(errors, std::vector<std::string>{"File access denied"});
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  EXPECT_EQ(ReadLog(), before);
  ExpectStillUsable();
  if (!mount.Mounted()) fs::permissions(directory, fs::perms::owner_all);
}

TEST_F(HardeningTest, LogIsADirectory) {
  fs::remove(directory / "NN.log");
  fs::create_directory(directory / "NN.log");
  Start();
  RecordUntilError(5);
  ASSERT_EQ(errors, std::vector<std::string>{"File access denied"});
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  EXPECT_TRUE(fs::is_empty(directory / "NN.log"));
  ExpectStillUsable();
  // Closing cannot write its line either: reported, not a crash.
  window.reset();
  EXPECT_EQ(errors.back(), "File access denied");
}

TEST_F(HardeningTest, FullDisk) {
  const std::string before = ReadLog();
  TScratchMount mount(directory, "size=16k,mode=0755");
  if (mount.Mounted()) {
    WriteLog(before);
    std::ofstream(directory / "filler", std::ios::binary) << std::string(4096, 'x');
  } else {
    // No mount here: /dev/full fails every write as a full disk does.
    fs::remove(directory / "NN.log");
    fs::create_symlink("/dev/full", directory / "NN.log");
  }
  Start();
  RecordUntilError();
  ASSERT_EQ(errors, std::vector<std::string>{"Disk full"});
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  ExpectStillUsable();
  if (!mount.Mounted()) return;

  const std::string atFailure = ReadLog();
  ExpectOnlyWholeLines(atFailure);
  EXPECT_EQ(atFailure.rfind(before, 0), 0u);
  // Room again: recording resumes right after the last whole line.
  fs::remove(directory / "filler");
  window->RecordNNIOBox->setChecked(true);
  Frame();
  EXPECT_EQ(errors.size(), 1u);
  const std::string after = ReadLog();
  EXPECT_EQ(after.rfind(atFailure, 0), 0u);
  EXPECT_GT(after.size(), atFailure.size());
  ExpectOnlyWholeLines(after);
}

// ---- Hand-made extremes ------------------------------------------------------------------

TEST_F(HardeningTest, PunishingEveryBugFarBelowZeroStillEndsEachGeneration) {
  Start();
  const int bugs = window->World.BugCount;
  for (int generation = 1; generation <= 3; ++generation) {
    for (int bug = 0; bug < bugs; ++bug) {
      window->CreatureSelector->SetValue(bug);
      ASSERT_EQ(window->World.SelectedBug, bug);
      for (int i = 0; i < 500 * generation; ++i) window->PunishCreatureBtn->click();
      ASSERT_LE(window->World.Nets[bug].Fitness, -500 * generation + 10);
    }
    window->World.TimeToLive = 1;
    const auto started = std::chrono::steady_clock::now();
    Frame();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(2)) << "breeding took too long";
    EXPECT_EQ(window->World.Generation, generation);
    for (int bug = 0; bug < bugs; ++bug) EXPECT_GE(window->World.Nets[bug].Fitness, 0);
    for (const TNeuralNet& net : window->World.Nets) {
      TWeightList weights(net.CountWeights());
      net.GetWeights(weights);
      for (double weight : weights) ASSERT_TRUE(std::isfinite(weight));
    }
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(HardeningTest, GarbageHugeAndEmptyTextInEverySpinEdit) {
  const QList<TSpinEdit*> boxes = window->findChildren<TSpinEdit*>();
  ASSERT_GE(boxes.size(), 6);
  const char* const texts[] = {"abc",        "99999999999999", "",    "-99999999999999", "2147483647",
                               "-2147483648", "+",             "-",   "12abc",           "000000000000000000000005",
                               "-0",          "4294967296",     "1e9", "\t7 "};
  window->activateWindow();
  for (TSpinEdit* box : boxes) {
    QLineEdit* edit = box->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    for (const char* text : texts) {
      SCOPED_TRACE(box->objectName().toStdString() + " <- '" + text + "' in the box at x " +
                   std::to_string(box->x()));
      box->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, text);
      // The world reads only values inside the boxes' ranges, even while one is typed.
      EXPECT_GE(window->CreatureLifetime(), LifetimeRange.Minimum);
      EXPECT_LE(window->CreatureLifetime(), LifetimeRange.Maximum);
      QTest::keyClick(edit, Qt::Key_Up);
      QTest::keyClick(edit, Qt::Key_Down);
      // Start with whatever the boxes hold now, run frames through a generation end.
      QTest::mouseClick(window->StartBtn, Qt::LeftButton);
      window->Timer.SetEnabled(false);
      EXPECT_GE(window->World.BugCount, BugCountRange.Minimum);
      EXPECT_LE(window->World.BugCount, BugCountRange.Maximum);
      EXPECT_GE(window->World.FoodCount, FoodCountRange.Minimum);
      EXPECT_LE(window->World.FoodCount, FoodCountRange.Maximum);
      EXPECT_GT(window->World.TimeToLive, 0);
      EXPECT_GE(window->Timer.Interval(), 0);
      Frame();
      window->World.TimeToLive = 1;
      Frame();
      EXPECT_EQ(window->World.Generation, 1);
      EXPECT_GT(window->World.TimeToLive, 0);
      // Leaving the box brings an editable box back into its range.
      window->StartBtn->setFocus();
      QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
      QApplication::sendEvent(box, &focusOut);
      if (box->EditorEnabled() && box->MinValue() <= box->MaxValue()) {
        EXPECT_GE(box->Value(), box->MinValue());
        EXPECT_LE(box->Value(), box->MaxValue());
      }
    }
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(HardeningTest, ClickingEverythingBeforeTheFirstStart) {
  window->activateWindow();
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (button == window->StartBtn) continue;
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
  }
  for (TSpinEdit* box : window->findChildren<TSpinEdit*>()) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    QTest::keyClick(box, Qt::Key_PageDown);
  }
  QTest::mouseMove(window->WorldView, QPoint(50, 60));
  QTest::mouseClick(window->WorldView, Qt::LeftButton, {}, QPoint(50, 60));
  // The disabled buttons cannot be clicked; their handlers are reachable by keyboard or
  // code all the same.
  window->PauseBtnClick();
  window->GetStrongestBtnClick();
  window->GetWeakestBtnClick();
  window->FeedCreatureBtnClick();
  window->PunishCreatureBtnClick();
  window->WorldViewClick();
  window->CreatureSelectorChange();
  window->WorldSpeedBoxChange();
  window->ShowStatsBoxClick();
  window->WorldViewEnabledClick();
  Frame();
  Frame();
  EXPECT_FALSE(window->World.HasPopulation());
  EXPECT_FALSE(window->Timer.Enabled());
  EXPECT_TRUE(errors.empty()) << errors.front();

  // And Start works as on a fresh window.
  QTest::mouseClick(window->StartBtn, Qt::LeftButton);
  EXPECT_TRUE(window->World.HasPopulation());
  EXPECT_TRUE(window->Timer.Enabled());
  window->Timer.SetEnabled(false);
  Frame();
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// ---- Closing in the middle of a frame ----------------------------------------------------

TEST_F(HardeningTest, QueuedCloseFromInsideAFrame) {
  Start();
  window->World.OnGenerationEnd = [this](const TGenerationReport&) {
    QMetaObject::invokeMethod(window.get(), &QWidget::close, Qt::QueuedConnection);
  };
  window->World.TimeToLive = 3;
  window->Timer.SetInterval(0);
  window->Timer.SetEnabled(true);
  ASSERT_TRUE(SpinUntil([this] { return !window->isVisible(); }));
  // Frames may go on behind a hidden window until the program ends; none of them fails.
  const int generation = window->World.Generation;
  SpinUntil([] { return false; }, 200);
  EXPECT_GE(window->World.Generation, generation);
  window.reset();
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_NE(LogText().rfind("Program Closed: "), std::string::npos);
}

TEST_F(HardeningTest, CloseCalledDirectlyInsideAFrame) {
  Start();
  window->World.OnGenerationEnd = [this](const TGenerationReport&) { window->close(); };
  window->World.TimeToLive = 1;
  Frame();  // the rest of this frame draws with the window already hidden
  EXPECT_FALSE(window->isVisible());
  Frame();
  window->show();
  Frame();
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(HardeningTest, WindowDestroyedByTheErrorReporterDuringAFrame) {
  Start();
  window->RecordNNIOBox->setChecked(true);
  fs::remove(directory / "NN.log");
  // A reporter that destroys the window while the failing frame is still on the stack,
  // below the timer's own call.
  SetErrorReporter([this](const std::string& message) {
    errors.push_back(message);
    window.reset();
  });
  window->Timer.SetInterval(0);
  window->Timer.SetEnabled(true);
  ASSERT_TRUE(SpinUntil([this] { return window == nullptr; }));
  // No frame runs for a window that is gone; the event loop goes on.
  SpinUntil([] { return false; }, 200);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], "File not found");
  // Its close line recreated the log.
  EXPECT_NE(LogText().find("Program Closed: "), std::string::npos);
}

}  // namespace
}  // namespace zemlix::testing
