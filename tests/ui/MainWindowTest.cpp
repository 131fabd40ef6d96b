#include <fstream>
#include <sstream>

#include "tests/ui/WindowFixture.h"

namespace zemlix::testing {

std::string WindowTest::LogText() const {
  std::ifstream in(directory / "NN.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(WindowTest, LayoutCaptionsAndDefaults) {
  EXPECT_EQ(window->windowTitle(), "Zemlix");
  EXPECT_EQ(window->geometry(), QRect(195, 112, 616, 561));
  EXPECT_EQ(window->StartBtn->text(), "Start");
  EXPECT_EQ(window->WorldView->geometry(), QRect(8, 8, 400, 400));
  EXPECT_EQ(window->GenomeMap->geometry(), QRect(16, 96, 217, 33));
  EXPECT_EQ(window->WorldSpeedBox->Value(), 3);
  EXPECT_EQ(window->CreatureLifetimeBox->Value(), 2000);
  EXPECT_EQ(window->NumberOfBugsBox->Value(), 30);
  EXPECT_EQ(window->NumberOfFoodBox->Value(), 40);
  EXPECT_EQ(window->NumberOfBugsBox->Increment(), 5);
  EXPECT_EQ(window->CreatureSelector->MaxValue(), 199);
  EXPECT_FALSE(window->CreatureSelector->isEnabled());
  EXPECT_FALSE(window->CreatureSelector->EditorEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{window->GetStrongestBtn, window->GetWeakestBtn,
                                                    window->FeedCreatureBtn, window->PunishCreatureBtn})
    EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(window->WorldViewEnabled->isChecked());
  EXPECT_TRUE(window->ShowStatsBox->isChecked());
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  EXPECT_FALSE(window->Label8->isVisible());
  EXPECT_FALSE(window->EvolveOnlyBox->isVisible());
  EXPECT_FALSE(window->LimitWeightsBox->isVisible());
  EXPECT_EQ(window->FPSLabel->toolTip(), "");  // its hint exists but is not shown
  EXPECT_EQ(window->RecordNNIOBox->toolTip(), "Careful: Log files get big fast!");
  EXPECT_EQ(window->Timer.Interval(), 10);
  EXPECT_FALSE(window->Timer.Enabled());
  EXPECT_TRUE(window->WorldView->CanDraw());
  EXPECT_EQ(Pixel(window->WorldView, 200, 200), 0u);
}

TEST_F(WindowTest, LogGetsTheStartAndCloseLines) {
  EXPECT_NE(LogText().find("\r\nProgram Started: "), std::string::npos);
  window.reset();
  const std::string log = LogText();
  const auto started = log.find("Program Started: ");
  const auto closed = log.find("Program Closed: ");
  ASSERT_NE(closed, std::string::npos);
  EXPECT_LT(started, closed);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(WindowTest, StartBuildsThePopulationAndFramesRun) {
  QTest::mouseClick(window->StartBtn, Qt::LeftButton);
  EXPECT_EQ(window->StartBtn->text(), "Restart");
  EXPECT_TRUE(window->World.HasPopulation());
  EXPECT_TRUE(window->Timer.Enabled());
  EXPECT_TRUE(window->CreatureSelector->isEnabled());
  EXPECT_TRUE(window->FeedCreatureBtn->isEnabled());
  EXPECT_EQ(window->World.TimeToLive, 2000);
  window->WorldSpeedBox->SetValue(0);
  QTest::qWait(100);
  EXPECT_LT(window->World.TimeToLive, 2000);
  EXPECT_TRUE(window->FPSLabel->text().startsWith("FPS = "));
  EXPECT_TRUE(errors.empty());
}

TEST_F(WindowTest, RestartReplacesThePopulation) {
  Start(5);
  window->World.Nets[0].Fitness = 7;
  window->World.Generation = 3;
  window->NumberOfBugsBox->SetValue(100);
  QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
  QTest::mouseClick(window->StartBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.Nets[0].Fitness, 0);
  EXPECT_EQ(window->World.Generation, 0);
  EXPECT_EQ(window->World.BugCount, 100);
  EXPECT_EQ(window->World.Nets.size(), 200u);
  EXPECT_TRUE(window->Timer.Enabled());
  EXPECT_EQ(window->PauseBtnHint, "Pause");
}

TEST_F(WindowTest, PauseBeforeStartDoesNothingAndPauseTogglesAfter) {
  QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
  EXPECT_FALSE(window->Timer.Enabled());
  QTest::mouseClick(window->StartBtn, Qt::LeftButton);
  QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
  EXPECT_FALSE(window->Timer.Enabled());
  EXPECT_EQ(window->PauseBtn->toolTip(), "Unpause");
  QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
  EXPECT_TRUE(window->Timer.Enabled());
  EXPECT_EQ(window->PauseBtn->toolTip(), "Pause");
}

TEST_F(WindowTest, SelectorNeverGoesAboveTheLastActiveBug) {
  Start();
  window->CreatureSelector->SetValue(29);
  EXPECT_EQ(window->World.SelectedBug, 29);
  window->CreatureSelector->stepBy(1);
  EXPECT_EQ(window->CreatureSelector->Value(), 29);
  EXPECT_EQ(window->World.SelectedBug, 29);
  EXPECT_EQ(window->CreatureSelectorTag, 0);
  window->CreatureSelector->SetValue(150);  // walks down one step per nested run
  EXPECT_EQ(window->CreatureSelector->Value(), 29);
  EXPECT_EQ(window->World.SelectedBug, 29);
}

TEST_F(WindowTest, RestartWithFewerBugsKeepsTheSelectionUntilTheSelectorMoves) {
  window->NumberOfBugsBox->SetValue(100);
  Start();
  window->CreatureSelector->SetValue(80);
  window->NumberOfBugsBox->SetValue(30);
  QTest::mouseClick(window->StartBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.SelectedBug, 80);
  window->CreatureSelector->stepBy(1);
  EXPECT_EQ(window->World.SelectedBug, 29);
  EXPECT_EQ(window->CreatureSelector->Value(), 29);
}

TEST_F(WindowTest, ClickingSelectsTheNearestBugFirstOneWins) {
  QTest::mouseMove(window->WorldView, QPoint(100, 100));
  QTest::mouseClick(window->WorldView, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(window->World.SelectedBug, 0);  // before Start nothing happens
  Start();
  for (TCreature& bug : window->World.Creatures) bug.X = bug.Y = 390;
  window->World.Creatures[12].X = 120;
  window->World.Creatures[12].Y = 100;
  window->World.Creatures[5].X = 80;  // as near as bug 12: the lower index wins
  window->World.Creatures[5].Y = 100;
  QTest::mouseMove(window->WorldView, QPoint(100, 100));
  QTest::mouseClick(window->WorldView, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(window->World.MouseX, 100);
  EXPECT_EQ(window->World.SelectedBug, 5);
  EXPECT_EQ(window->CreatureSelector->Value(), 5);
}

TEST_F(WindowTest, StrongestAndWeakestPickTheFirstBest) {
  Start();
  QTest::mouseClick(window->GetStrongestBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.SelectedBug, 0);  // all equal
  window->World.Nets[3].Fitness = 5;
  window->World.Nets[7].Fitness = 5;
  window->World.Nets[4].Fitness = -2;
  window->World.Nets[6].Fitness = -2;
  window->World.Nets[40].Fitness = 99;  // not an active bug
  QTest::mouseClick(window->GetStrongestBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.SelectedBug, 3);
  EXPECT_EQ(window->CreatureSelector->Value(), 3);
  QTest::mouseClick(window->GetWeakestBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.SelectedBug, 4);
}

TEST_F(WindowTest, FeedAndPunishShowAtTheNextFrameWhileRunningAndAtOnceWhilePaused) {
  Start();
  window->Timer.SetEnabled(true);  // running; no event loop runs here, so no frame either
  window->CreatureSelector->SetValue(2);
  const int total = window->World.TotalFitness;
  QTest::mouseClick(window->PunishCreatureBtn, Qt::LeftButton);
  QTest::mouseClick(window->PunishCreatureBtn, Qt::LeftButton);
  QTest::mouseClick(window->FeedCreatureBtn, Qt::LeftButton);
  EXPECT_EQ(window->World.Nets[2].Fitness, -1);
  EXPECT_EQ(window->World.TotalFitness, total);
  EXPECT_EQ(window->FitnessLabel->text(), "Fitness = ");  // nothing redrawn yet
  window->TimerTimer(1);
  EXPECT_EQ(window->FitnessLabel->text(), QString("Fitness = %1").arg(window->World.Nets[2].Fitness));
  EXPECT_LE(window->World.Nets[2].Fitness, 0);

  QTest::mouseClick(window->PauseBtn, Qt::LeftButton);
  const int fitness = window->World.Nets[2].Fitness;
  QTest::mouseClick(window->FeedCreatureBtn, Qt::LeftButton);
  EXPECT_EQ(window->FitnessLabel->text(), QString("Fitness = %1").arg(fitness + 1));
}

TEST_F(WindowTest, SpeedBoxSetsTheIntervalAsTypedUntilFocusLeaves) {
  EXPECT_EQ(window->Timer.Interval(), 10);  // the box's 3 is not applied at start
  window->activateWindow();
  window->WorldSpeedBox->setFocus();
  QLineEdit* edit = window->WorldSpeedBox->findChild<QLineEdit*>();
  edit->selectAll();
  QTest::keyClicks(edit, "25");
  EXPECT_EQ(window->WorldSpeedBox->Value(), 25);
  EXPECT_EQ(window->Timer.Interval(), 250);
  window->StartBtn->setFocus();
  QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(window->WorldSpeedBox, &focusOut);
  EXPECT_EQ(window->WorldSpeedBox->Value(), 20);
  EXPECT_EQ(window->Timer.Interval(), 200);
  edit->clear();
  EXPECT_EQ(window->Timer.Interval(), 0);
}

TEST_F(WindowTest, FpsCaptionShowsRateAndLag) {
  Start();
  // Frame after frame, the caption follows the lag whether it changed or not.
  const std::pair<int, const char*> frames[] = {{3, "FPS = 0(3 Lag)"}, {3, "FPS = 0(3 Lag)"}, {1, "FPS = 0(1 Lag)"},
                                                {3, "FPS = 0(3 Lag)"}};
  for (const auto& [lag, caption] : frames) {
    window->TimerTimer(lag);
    EXPECT_EQ(window->FPSLabel->text(), caption) << lag;
  }
}

TEST_F(WindowTest, UnwritableLogIsReportedOnceAndRecordingStops) {
  Start();
  window->RecordNNIOBox->setChecked(true);
  window->TimerTimer(1);
  EXPECT_TRUE(errors.empty());
  std::filesystem::remove(directory / "NN.log");
  const int ttl = window->World.TimeToLive;
  RunHandler([&] { window->TimerTimer(1); });
  RunHandler([&] { window->TimerTimer(1); });
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "File not found");
  EXPECT_FALSE(window->RecordNNIOBox->isChecked());
  EXPECT_EQ(window->World.TimeToLive, ttl - 2);  // the program carries on
}

TEST_F(WindowTest, FatalErrorsGoToTheFatalBox) {
  Start();
  // The generation end breeds genomes of the recorded length from the networks: a record that
  // disagrees with them is fatal.
  window->World.GenomeLength = 43;
  window->World.TimeToLive = 1;
  EXPECT_THROW(RunHandler([&] { window->TimerTimer(1); }), std::logic_error);
  try {
    RunHandler([&] { window->World.TimeToLive = 1, window->TimerTimer(1); });
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "fatal: ERROR <Breed()>: Non-Equal Array Sizes! tried<43> actual<44>");
  }
  window->World.GenomeLength = 44;
}

}  // namespace zemlix::testing
