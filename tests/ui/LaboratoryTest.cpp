// The laboratory window against the runner: the same seed gives the same world, world files
// travel both ways exactly, and nothing is lost when a file is bad or a save fails.
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QLabel>
#include <QLineSeries>
#include <QValueAxis>
#include <QToolButton>
#include <QToolTip>
#include <QChartView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QWindow>
#include <QTimer>
#include <clocale>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "display/HandlerErrors.h"
#include "files/Dump.h"
#include "files/WorldFile.h"
#include "sim/HeadlessHost.h"
#include "sim/Runner.h"
#include "sim/RunnerOptions.h"
#include "tests/support/ScratchMount.h"
#include "files/FitnessPlot.h"
#include "ui/FitnessChart.h"
#include "ui/KeptRuns.h"
#include "ui/RecentRuns.h"
#include "ui/SeedDialog.h"
#include "ui/UserLocale.h"
#include "ui/LaboratoryWindow.h"
#include "ui/SpinEdit.h"
#include "world/Settings.h"

namespace zemlix::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A world file's state as the plain dump of the world it restores: two files are the same
// world exactly when these agree.
std::string Canonical(const fs::path& path) {
  const TSavedState state = ReadWorldFile(path.string()).State;
  THeadlessHost host(state.Bugs, state.Food, state.Lifetime, false);
  TWorld world(host);
  RestoreWorld(world, state, path.string());
  return FormatDump(world, state.Tick, state.Lifetime);
}

class LaboratoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() / ("zemlix-lab-" + std::to_string(QCoreApplication::applicationPid()) +
                                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
    SetErrorReporter([this](const std::string& message) {
      errors.push_back(message);
      details.push_back(ReportedErrorDetails());
    });
    lab = std::make_unique<TLaboratoryWindow>(TNetworkLog(directory));
    lab->RunsFolder = QString::fromStdString(Path("runs"));
    lab->show();
    QCoreApplication::processEvents();
  }

  void TearDown() override {
    lab.reset();
    SetErrorReporter({});
    fs::remove_all(directory);
  }

  TMain& Client() { return *lab->Client; }

  // A run of 10 bugs, 15 pellets and a lifetime of 500 from `seed`; frames run by hand.
  void StartRun(uint32_t seed, bool display = true) {
    lab->SetFixedSeed(seed);
    Client().NumberOfBugsBox->SetValue(10);
    Client().NumberOfFoodBox->SetValue(15);
    Client().CreatureLifetimeBox->SetValue(500);
    Client().WorldViewEnabled->setChecked(display);
    lab->StartAction->trigger();
    Client().Timer.SetEnabled(false);
  }

  void Frames(int count) {
    for (int i = 0; i < count; ++i) Client().Timer.OnTimer(Client().Timer, 1);
  }

  int Runner(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "zemlix-sim");
    arguments.push_back("--quiet");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    std::ostringstream out, error;
    const TParseResult parsed = ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), out, error);
    const int status = parsed.Options ? RunHeadless(*parsed.Options, out, error) : parsed.ExitStatus;
    EXPECT_EQ(status, 0) << error.str();
    return status;
  }

  std::string Path(const std::string& name) const { return (directory / name).string(); }
  // The title as the window system shows it, with the modified marker resolved.
  QString Title() const { return lab->windowHandle()->title(); }
  std::vector<fs::path> KeptRuns() const {
    std::vector<fs::path> runs;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory / "runs", ignored)) runs.push_back(entry.path());
    std::sort(runs.begin(), runs.end());
    return runs;
  }
  std::string WorldNow() { return FormatDump(Client().World, 0, 500); }

  fs::path directory;
  std::vector<std::string> errors, details;
  std::unique_ptr<TLaboratoryWindow> lab;
};

TEST_F(LaboratoryTest, WindowRunIsTheRunnersRunWithTheWorldDisplayOnAndOff) {
  for (const bool display : {true, false}) {
    SCOPED_TRACE(display ? "display on" : "display off");
    StartRun(4242, display);
    EXPECT_EQ(lab->SeedStatus->text(), "Seed 4242");
    Frames(700);
    ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("window.world"))));
    Runner({"--seed", "4242", "--bugs", "10", "--food", "15", "--lifetime", "500", "--ticks", "700", "--dump",
            Path("runner.dump")});
    EXPECT_EQ(Canonical(Path("window.world")), Canonical(Path("runner.dump")));
    EXPECT_EQ(ReadWorldFile(Path("window.world")).State.Tick, 700u);
    EXPECT_EQ(Title(), "window.world — Zemlix");

    // After two whole generations the exports are the runner's files, byte for byte.
    Frames(300);
    ASSERT_EQ(lab->History.size(), 2u);
    ASSERT_TRUE(lab->ExportHistory(QString::fromStdString(Path("window.csv"))));
    ASSERT_TRUE(lab->ExportPlot(QString::fromStdString(Path("window.svg"))));
    Runner({"--seed", "4242", "--bugs", "10", "--food", "15", "--lifetime", "500", "--generations", "2", "--csv",
            Path("runner.csv"), "--plot", Path("runner.svg")});
    EXPECT_EQ(ReadText(Path("window.csv")), ReadText(Path("runner.csv")));
    EXPECT_EQ(ReadText(Path("window.svg")), ReadText(Path("runner.svg")));
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(LaboratoryTest, WorldsTravelWindowToRunnerToWindowExactly) {
  StartRun(31);
  Frames(600);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("w1.world"))));
  Runner({"--load", Path("w1.world"), "--ticks", "650", "--dump", Path("r2.world")});
  Frames(650);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("w2.world"))));
  EXPECT_EQ(Canonical(Path("w2.world")), Canonical(Path("r2.world")));
  const TWorldFile saved = ReadWorldFile(Path("w2.world"));
  EXPECT_EQ(saved.History.size(), 2u);
  EXPECT_EQ(FormatHistory(saved.History), FormatHistory(ReadWorldFile(Path("r2.world")).History));

  // The runner's world opens in the window with its history and carries on there.
  Client().NumberOfBugsBox->SetValue(100);
  Client().CreatureSelector->SetValue(7);
  ASSERT_TRUE(lab->OpenWorld(QString::fromStdString(Path("r2.world"))));
  EXPECT_TRUE(Client().Timer.Enabled());
  EXPECT_EQ(Client().CreatureSelector->Value(), Client().World.SelectedBug);  // the box shows whom the world follows
  Client().Timer.SetEnabled(false);
  EXPECT_EQ(Client().NumberOfBugsBox->Value(), 10);
  EXPECT_EQ(Client().CreatureLifetimeBox->Value(), 500);
  EXPECT_EQ(Title(), "r2.world — Zemlix");
  EXPECT_EQ(FormatHistory(lab->History), FormatHistory(saved.History));
  EXPECT_EQ(lab->ChartWindow->BestSeries()->count(), 2);
  Frames(400);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("w3.world"))));
  Runner({"--load", Path("r2.world"), "--ticks", "400", "--dump", Path("r3.world")});
  EXPECT_EQ(Canonical(Path("w3.world")), Canonical(Path("r3.world")));
  EXPECT_EQ(lab->History.size(), 3u);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(LaboratoryTest, BadFilesAreRefusedAndTheRunningWorldGoesOn) {
  StartRun(5);
  Frames(20);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("good.world"))));
  std::string good = ReadText(Path("good.world"));
  const auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    return text.replace(text.find(from), from.size(), to);
  };
  // Sound worlds of the runner that the window cannot show.
  const auto bigWorld = [this](const std::string& file, std::vector<std::string> arguments) {
    for (const char* argument : {"--seed", "3", "--ticks", "1", "--dump"}) arguments.push_back(argument);
    arguments.push_back(Path(file));
    EXPECT_EQ(Runner(arguments), 0);
    return ReadText(Path(file));
  };
  // Networks one weight short: the reader takes them, restoring them fails.
  std::string shortNets;
  std::istringstream lines(good);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("check ", 0) == 0) continue;
    if (line.rfind("net ", 0) == 0) line.erase(line.rfind(' '));
    shortNets += line + "\n";
  }
  struct Case {
    const char* file;
    std::string text;
    std::vector<std::string> named;  // in the message besides the file's path
  } cases[] = {
      {"cut.world", replaced("bug 1 ", "bug 1 x "), {":3: "}},
      {"bugs.world", bigWorld("bugs.world", {"--bugs", "300"}), {"bugs is 300", "5 to 200"}},
      {"field.world", bigWorld("field.world", {"--set", "field_width=800"}), {"field_width is 800", "400 x 400"}},
      {"lifetime.world", replaced(" lifetime=500", " lifetime=20000"), {"20000", "500 to 10000"}},
      {"foreign.world", "<html>\n", {":1: "}},
      {"short.world", shortNets, {}},
  };
  Client().Timer.SetEnabled(true);
  const std::string before = WorldNow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteText(Path(c.file), c.text);
    errors.clear();
    EXPECT_FALSE(lab->OpenWorld(QString::fromStdString(Path(c.file))));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(Path(c.file)), std::string::npos) << errors[0];
    for (const std::string& part : c.named) EXPECT_NE(errors[0].find(part), std::string::npos) << errors[0];
    EXPECT_EQ(WorldNow(), before);
    EXPECT_TRUE(Client().Timer.Enabled());
    EXPECT_EQ(Title(), "good.world — Zemlix");
    EXPECT_EQ(Client().NumberOfBugsBox->Value(), 10);
  }
}

TEST_F(LaboratoryTest, FailedSavesLeaveThePreviousFileWhole) {
  StartRun(6);
  Frames(5);
  fs::create_directories(Path("folder.world"));
  EXPECT_FALSE(lab->SaveWorld(QString::fromStdString(Path("folder.world"))));
  EXPECT_NE(errors.at(0).find("cannot write " + Path("folder.world") + ": "), std::string::npos) << errors[0];

  // A lifetime lowered below the frames this generation has left cannot be written.
  Client().CreatureLifetimeBox->SetValue(LifetimeRange.Minimum);
  Client().World.TimeToLive = 501;
  EXPECT_FALSE(lab->SaveWorld(QString::fromStdString(Path("early.world"))));
  EXPECT_EQ(errors.back(),
            "The world cannot be saved yet: the lifetime was set to 500 while this generation still has 501 frames "
            "to live; save again once it has ended.");
  EXPECT_FALSE(fs::exists(Path("early.world")));
  Client().World.TimeToLive = 495;

  const fs::path mounted = directory / "mounted";
  fs::create_directories(mounted);
  for (const bool readOnly : {false, true}) {
    TScratchMount mount(mounted, "size=1m");
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a scratch tmpfs here";
    const QString path = QString::fromStdString((mounted / "kept.world").string());
    ASSERT_TRUE(lab->SaveWorld(path));
    const std::string kept = ReadText(mounted / "kept.world");
    Frames(3);
    if (!readOnly) WriteText(mounted / "filler", std::string(1024 * 1024, 'x'));  // the rest of the disk
    ASSERT_TRUE(!readOnly || mount.MakeReadOnly());
    errors.clear();
    EXPECT_FALSE(lab->SaveWorld(path));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(path.toStdString()), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find(readOnly ? "Read-only" : "No space"), std::string::npos) << errors[0];
    EXPECT_EQ(ReadText(mounted / "kept.world"), kept);
  }
}

// The first frame of a generation has all its lifetime still to live: it saves like any
// other frame, as the runner's world at that tick, and shows no average until a generation
// has ended.
TEST_F(LaboratoryTest, AGenerationsFirstFrameSavesAndNoAverageShowsBeforeOneEnds) {
  StartRun(12);
  Frames(499);
  lab->UpdateStatus();
  EXPECT_EQ(lab->AverageStatus->text().toStdString(), "Exact average —");
  Frames(1);
  ASSERT_EQ(Client().World.Generation, 1);
  ASSERT_EQ(Client().World.TimeToLive, 500);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("first.world")))) << (errors.empty() ? "" : errors.front());
  Runner({"--seed", "12", "--bugs", "10", "--food", "15", "--lifetime", "500", "--ticks", "500", "--dump",
          Path("runner.dump")});
  EXPECT_EQ(Canonical(Path("first.world")), Canonical(Path("runner.dump")));
  EXPECT_EQ(ReadWorldFile(Path("first.world")).State.Tick, 500u);
}

// The seed dialog, answered by a timer once its loop runs: a text that is no seed stays as
// typed, with the reason in the dialog and OK not offered.
TEST_F(LaboratoryTest, TheSeedDialogTakesEveryThirtyTwoBitSeed) {
  const struct {
    const char* typed;
    const char* status;  // empty: refused
  } cases[] = {
      {"4294967295", "Seed 4294967295 (next Start)"},
      {"4294967296", ""},
      {"12a", ""},
      {" 0 ", "Seed 0 (next Start)"},
      {"", "Seed from the clock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    lab->SetFixedSeed(7);
    QString kept, reason;
    bool offered = false;
    QTimer::singleShot(0, lab.get(), [&] {
      auto* dialog = qobject_cast<TSeedDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->Edit->text(), "7");
      dialog->Edit->clear();
      QTest::keyClicks(dialog->Edit, c.typed);
      QPushButton* ok = dialog->Buttons->button(QDialogButtonBox::Ok);
      offered = ok->isEnabled();
      kept = dialog->Edit->text();
      reason = dialog->Reason->text();
      ok->click();
      if (dialog->isVisible()) dialog->reject();
    });
    lab->SeedAction->trigger();
    EXPECT_EQ(lab->SeedStatus->text().toStdString(), *c.status ? c.status : "Seed 7 (next Start)");
    EXPECT_EQ(offered, *c.status != 0);
    EXPECT_EQ(kept, c.typed);
    EXPECT_EQ(reason.contains("is not a seed: a whole number from 0 to 4294967295"), *c.status == 0)
        << reason.toStdString();
  }
  EXPECT_TRUE(errors.empty());
}

// Every menu, in every state of a run, gives each of its entries its own mnemonic, and the
// bug buttons are reachable from the keyboard.
TEST_F(LaboratoryTest, MnemonicsAreUniqueInEveryMenuAndState) {
  const auto mnemonicsOf = [](const QList<QAction*>& actions, const std::string& where) {
    std::map<QChar, QString> seen;
    for (QAction* action : actions) {
      const QString text = action->text();
      if (action->isSeparator() || text.isEmpty()) continue;
      const qsizetype amp = QString(text).replace("&&", "").indexOf('&');
      ASSERT_GE(amp, 0) << where << ": no mnemonic in " << text.toStdString();
      const QChar key = QString(text).replace("&&", "").at(amp + 1).toLower();
      EXPECT_TRUE(seen.emplace(key, text).second)
          << where << ": " << text.toStdString() << " and " << seen[key].toStdString() << " share Alt+"
          << QString(key).toStdString();
    }
  };
  const std::pair<const char*, std::function<void()>> states[] = {
      {"before Start", [] {}},
      {"running", [&] { StartRun(3); Client().Timer.SetEnabled(true); }},
      {"paused", [&] { Client().Timer.SetEnabled(false); }},
  };
  for (const auto& [state, enter] : states) {
    enter();
    lab->UpdateStatus();
    mnemonicsOf(lab->menuBar()->actions(), std::string(state) + ", menu bar");
    for (QAction* entry : lab->menuBar()->actions()) {
      emit entry->menu()->aboutToShow();
      mnemonicsOf(entry->menu()->actions(), std::string(state) + ", " + entry->text().toStdString());
    }
  }
  // The Bug menu's entries have shortcuts and reach the buttons' handlers.
  for (QAction* action : {lab->StrongestAction, lab->WeakestAction, lab->FeedAction, lab->PunishAction})
    EXPECT_FALSE(action->shortcut().isEmpty()) << action->text().toStdString();
  const int32_t before = Client().World.Nets[Client().World.SelectedBug].Fitness;
  lab->FeedAction->trigger();
  EXPECT_EQ(Client().World.Nets[Client().World.SelectedBug].Fitness, before + 1);
}

// Save As gives a bare name the world suffix, and the dialogs start where the last world
// was opened or saved.
TEST_F(LaboratoryTest, SaveAsAppendsTheSuffixAndTheFolderIsRemembered) {
  StartRun(4);
  Frames(3);
  QString caption, filter;
  lab->ChooseFile = [&](const QString& c, const QString& f, bool save) {
    caption = c;
    filter = f;
    return save ? QString::fromStdString(Path("plain")) : QString();  // Open is cancelled
  };
  lab->SaveAsAction->trigger();
  EXPECT_TRUE(fs::exists(Path("plain.world")));
  EXPECT_FALSE(fs::exists(Path("plain")));
  EXPECT_EQ(Title(), "plain.world — Zemlix");
  EXPECT_EQ(UserSettings()->value("folders/last").toString().toStdString(), directory.string());
  lab->OpenAction->trigger();
  EXPECT_EQ(caption, "Open World");
  EXPECT_TRUE(filter.startsWith("World files and runner dumps (*.world *.txt *.dump);;All files (*)"));
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(LaboratoryTest, StatusBarAndChartFollowARunWithTheWorldDisplayOff) {
  Client().WorldViewEnabled->setChecked(false);
  Client().CreatureLifetimeBox->SetValue(500);
  Client().NumberOfBugsBox->SetValue(5);
  Client().WorldSpeedBox->SetValue(0);
  lab->ChartAction->trigger();
  lab->StartAction->trigger();
  const auto spinUntil = [](const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
  };
  // While running, only the status timer brings the bar up to date.
  ASSERT_TRUE(spinUntil([&] { return lab->History.size() >= 2 && lab->GenerationStatus->text() != "Generation 0"; }));
  lab->PauseAction->trigger();
  const TGenerationReport last = lab->History.back();
  ASSERT_TRUE(spinUntil([&] { return lab->StateStatus->text() == "Paused"; }));
  EXPECT_EQ(lab->GenerationStatus->text(), QStringLiteral("Generation %1").arg(last.Generation));
  EXPECT_EQ(lab->AverageStatus->text(), QString::asprintf("Exact average %.2f", last.AverageFitness));
  int32_t best = 0;
  for (const TGenerationReport& report : lab->History) best = std::max(best, report.BestFitness);
  EXPECT_EQ(lab->BestStatus->text(), QStringLiteral("Best so far %1").arg(best));
  EXPECT_TRUE(lab->ChartWindow->isVisible());
  EXPECT_TRUE(lab->ChartWindow->Chart()->title().contains(QStringLiteral("seed %1").arg(*Client().RunSeed)));
  ASSERT_EQ(lab->ChartWindow->AverageSeries()->count(), static_cast<int>(lab->History.size()));
  EXPECT_EQ(lab->ChartWindow->AverageSeries()->at(1), QPointF(2, lab->History[1].AverageFitness));
  EXPECT_EQ(lab->ChartWindow->BestSeries()->at(1), QPointF(2, lab->History[1].BestFitness));
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(LaboratoryTest, ASeedRepeatsARunAndTheClockDoesNot) {
  StartRun(77);
  const std::string first = WorldNow();
  lab->StartAction->trigger();
  EXPECT_EQ(WorldNow(), first);
  lab->SetFixedSeed(std::nullopt);
  EXPECT_EQ(lab->SeedStatus->text(), "Seed 77");  // the running run's seed until the next Start
  lab->StartAction->trigger();
  EXPECT_EQ(lab->SeedStatus->text(), QStringLiteral("Seed %1").arg(*Client().RunSeed));
  EXPECT_NE(WorldNow(), first);
}

TEST_F(LaboratoryTest, SelectionWhilePausedShowsAtOnce) {
  StartRun(8);
  Frames(300);  // bug 0 selected and drawn
  const int32_t selected = 7;
  Client().World.Nets[selected].Fitness = 99;
  Client().GetStrongestBtn->click();
  ASSERT_EQ(Client().World.SelectedBug, selected);
  EXPECT_EQ(Client().FitnessLabel->text(), "Fitness = 99");
  // The selection rings (blue, the ring colour 0xFF0000 as BGR) around the selected bug.
  const TCreature& bug = Client().World.Creatures[selected];
  int ringPixels = 0;
  for (int y = std::max(1, int(bug.Y) - 8); y <= std::min(398, int(bug.Y) + 8); ++y)
    for (int x = std::max(1, int(bug.X) - 8); x <= std::min(398, int(bug.X) + 8); ++x)
      ringPixels += (Client().WorldView->Surface().Pixel(x, y) & 0xFFFFFF) == 0x0000FF;
  EXPECT_GT(ringPixels, 10);
}

TEST_F(LaboratoryTest, LogErrorsNameTheLogsFullPath) {
  StartRun(9);
  fs::remove(directory / "NN.log");
  Client().RecordNNIOBox->setChecked(true);
  Frames(1);
  ASSERT_EQ(errors, std::vector<std::string>{"File not found"});
  EXPECT_EQ(details[0], fs::absolute(directory / "NN.log").string());
}

TEST_F(LaboratoryTest, ClosingTheWindowEndsTheBoxOnScreen) {
  // Without the box closing with the window, its loop would wait for a click that never
  // comes; a last resort closes it after 5 s so the test fails instead of hanging.
  QTimer::singleShot(100, lab.get(), [this] { lab->close(); });
  QTimer::singleShot(5000, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QElapsedTimer clock;
  clock.start();
  ShowErrorBox("File access denied");
  EXPECT_LT(clock.elapsed(), 4000);
  EXPECT_FALSE(lab->isVisible());
}

TEST_F(LaboratoryTest, ButtonsShowTheirWholeCaption) {
  for (QPushButton* button : Client().findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->text().toStdString());
    EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()) + 2);
  }
  // Strongest grows about its centre and stays clear of Weakest.
  const QRect strongest = Client().GetStrongestBtn->geometry();
  EXPECT_LE(std::abs((strongest.left() + strongest.right()) - (144 + 194)), 1);
  EXPECT_FALSE(strongest.intersects(Client().GetWeakestBtn->geometry()));
}

// Restart, Open and closing the window replace a run without a question; a run that
// advanced since it was written is kept first, and opens again as the very same file.
TEST_F(LaboratoryTest, ARunAboutToBeDiscardedIsKeptAndReopensExactly) {
  StartRun(3);
  Frames(5);
  ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("other.world"))));
  const struct {
    const char* name;
    std::function<void()> discard;
  } cases[] = {
      {"Restart", [&] { lab->StartAction->trigger(); }},
      {"Open", [&] { lab->OpenWorld(QString::fromStdString(Path("other.world"))); }},
      {"Close", [&] { lab->close(); }},
  };
  size_t kept = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    lab->show();
    StartRun(4242);
    Frames(650);
    const std::string expected = FormatWorldFile(Client().World, 650, 500, lab->History);
    c.discard();
    Client().Timer.SetEnabled(false);
    const std::vector<fs::path> runs = KeptRuns();
    ASSERT_EQ(runs.size(), ++kept);
    const fs::path& newest = runs.back();
    EXPECT_NE(newest.filename().string().find("_seed-4242"), std::string::npos) << newest;
    EXPECT_EQ(ReadText(newest), expected);
    const std::vector<TRecentRun> recent = LoadRecentRuns(*UserSettings());
    const auto entry = std::find_if(recent.begin(), recent.end(),
                                    [&](const TRecentRun& run) { return run.Path.toStdString() == newest.string(); });
    ASSERT_NE(entry, recent.end());
    EXPECT_EQ(entry->Generation, 1);
    EXPECT_EQ(entry->Seed, 4242u);

    // Nothing new is kept for a run that has not moved since it was written.
    lab->show();
    ASSERT_TRUE(lab->OpenWorld(QString::fromStdString(newest.string())));
    Client().Timer.SetEnabled(false);
    lab->StartAction->trigger();
    EXPECT_EQ(KeptRuns().size(), kept);

    // Chosen from File → Recent, the kept run opens and saves as the same bytes.
    emit lab->RecentMenu->aboutToShow();
    const QList<QAction*> actions = lab->RecentMenu->actions();
    const auto chosen = std::find_if(actions.begin(), actions.end(), [&](QAction* action) {
      return action->text().contains(QString::fromStdString(newest.filename().string()));
    });
    ASSERT_NE(chosen, actions.end());
    (*chosen)->trigger();
    Client().Timer.SetEnabled(false);
    EXPECT_EQ(Title().toStdString(), newest.filename().string() + " — Zemlix");
    ASSERT_TRUE(lab->SaveWorld(QString::fromStdString(Path("again.world"))));
    EXPECT_EQ(ReadText(Path("again.world")), expected);
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(LaboratoryTest, KeptRunsAreTheNewestWithinTheirLimits) {
  const fs::path folder = directory / "limits";
  const struct {
    int files;
    size_t bytes;     // each
    TKeptRunsLimits limits;
    int remaining;    // the newest ones
  } cases[] = {
      {22, 10, {}, 20},
      {5, 40, {20, 100}, 2},
      {3, 400, {20, 100}, 1},  // the newest stays even alone over the size
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files);
    fs::remove_all(folder);
    fs::create_directories(folder);
    WriteText(folder / "notes.txt", std::string(1000, 'n'));
    fs::path last;
    for (int i = 0; i < c.files; ++i) {
      const QDateTime when(QDate(2026, 1, 1), QTime(10, 0).addSecs(i));
      last = KeepRun(folder, KeptRunName(when, 7), std::string(c.bytes, 'w'), c.limits);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), static_cast<size_t>(c.remaining) + 1);
    EXPECT_EQ(names.back(), "notes.txt");
    EXPECT_EQ(names[names.size() - 2], last.filename().string());
    EXPECT_EQ(names.front(), KeptRunName(QDateTime(QDate(2026, 1, 1), QTime(10, 0).addSecs(c.files - c.remaining)), 7)
                                 .toStdString());
  }
  // Two runs kept within one second are both kept.
  const QDateTime when(QDate(2026, 1, 2), QTime(9, 0));
  EXPECT_NE(KeepRun(folder, KeptRunName(when, std::nullopt), "a"), KeepRun(folder, KeptRunName(when, std::nullopt), "b"));
}

TEST_F(LaboratoryTest, TheTitleMarksARunThatAdvancedSinceItWasSaved) {
  EXPECT_EQ(Title(), "Zemlix");
  StartRun(21);
  EXPECT_FALSE(lab->isWindowModified());
  Frames(405);
  lab->UpdateStatus();
  EXPECT_TRUE(lab->isWindowModified());
  EXPECT_EQ(Title(), "Zemlix*");
  const QString path = QString::fromStdString(Path("name.world"));
  ASSERT_TRUE(lab->SaveWorld(path));
  EXPECT_FALSE(lab->isWindowModified());
  EXPECT_EQ(Title(), "name.world — Zemlix");
  EXPECT_TRUE(lab->statusBar()->currentMessage().startsWith("Saved generation 0 to /"));
  EXPECT_TRUE(lab->statusBar()->currentMessage().endsWith("/name.world"));
  Frames(1);
  lab->UpdateStatus();
  EXPECT_EQ(Title(), "name.world* — Zemlix");
}

// Someone else's data is not overwritten without asking.
TEST_F(LaboratoryTest, SavingOverAFileChangedOnDiskAsksFirst) {
  std::vector<QString> questions;
  bool answer = false;
  lab->Confirm = [&](const QString& question) {
    questions.push_back(question);
    return answer;
  };
  StartRun(22);
  Frames(3);
  const QString path = QString::fromStdString(Path("shared.world"));
  ASSERT_TRUE(lab->SaveWorld(path));
  ASSERT_TRUE(lab->SaveWorld(path));  // unchanged since: no question
  EXPECT_TRUE(questions.empty());
  WriteText(Path("shared.world"), "someone else's world\n");
  for (const bool yes : {false, true}) {
    answer = yes;
    EXPECT_EQ(lab->SaveWorld(path), yes);
    EXPECT_EQ(ReadText(Path("shared.world")) == "someone else's world\n", !yes);
  }
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_TRUE(questions[0].contains("changed on disk")) << questions[0].toStdString();
}

// A German desktop reads its decimal comma on screen and in NN.log, while the files other
// programs read are byte for byte those of the C locale.
TEST_F(LaboratoryTest, TheUsersDecimalSeparatorOnScreenAndPointsInExchangeFiles) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
    GTEST_SKIP() << "the de_DE.UTF-8 locale is not generated here (scripts/install-dependencies.sh does it)";
  std::setlocale(LC_ALL, saved.c_str());
  const QByteArray oldAll = qgetenv("LC_ALL");
  struct TSeen {
    std::string world, csv, svg, log;
    QString average, meter;
    QImage statsLine;
  };
  const auto runUnder = [&](const char* locale) {
    qputenv("LC_ALL", locale);
    AdoptUserLocale();
    QLocale::setDefault(QLocale(QString(locale).section('.', 0, 0)));
    const fs::path folder = directory / locale;
    fs::create_directories(folder);
    lab = std::make_unique<TLaboratoryWindow>(TNetworkLog(folder));
    lab->show();
    StartRun(4242);
    Frames(999);
    Client().RecordNNIOBox->setChecked(true);
    Frames(1);
    lab->UpdateStatus();
    TSeen seen;
    const std::string prefix = (folder / "run").string();
    EXPECT_TRUE(lab->SaveWorld(QString::fromStdString(prefix + ".world")));
    EXPECT_TRUE(lab->ExportHistory(QString::fromStdString(prefix + ".csv")));
    EXPECT_TRUE(lab->ExportPlot(QString::fromStdString(prefix + ".svg")));
    seen.world = ReadText(prefix + ".world");
    seen.csv = ReadText(prefix + ".csv");
    seen.svg = ReadText(prefix + ".svg");
    seen.log = ReadText(folder / "NN.log");
    seen.average = lab->AverageStatus->text();
    // The meter's tooltip is made when it is shown.
    QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), Client().LeftImpulseMeter->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(Client().LeftImpulseMeter, &hover);
    seen.meter = Client().LeftImpulseMeter->toolTip();
    seen.statsLine = Client().WorldView->Surface().ToImage().copy(0, 386, 300, 14);
    return seen;
  };
  const TSeen c = runUnder("C.UTF-8");
  const TSeen german = runUnder("de_DE.UTF-8");
  if (oldAll.isNull()) qunsetenv("LC_ALL"); else qputenv("LC_ALL", oldAll);
  std::setlocale(LC_ALL, saved.c_str());
  QLocale::setDefault(QLocale::system());

  EXPECT_EQ(german.world, c.world);
  EXPECT_EQ(german.csv, c.csv);
  EXPECT_EQ(german.svg, c.svg);
  EXPECT_TRUE(std::regex_match(c.average.toStdString(), std::regex("Exact average \\d+\\.\\d\\d")));
  EXPECT_EQ(german.average, QString(c.average).replace('.', ','));
  EXPECT_EQ(german.meter, QString(c.meter).replace('.', ','));
  EXPECT_NE(german.statsLine, c.statsLine);  // "Average Fitness of Last Generation: 2,70"
  const std::regex executeLine("Execute\\[0\\]: IN0: -?\\d+([.,])\\d+ .*");
  for (const auto& [log, separator] : {std::pair(c.log, "."), std::pair(german.log, ",")}) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match, executeLine));
    EXPECT_EQ(match[1], separator);
  }
}

// The bar's time to live, generation and average are the world view's, frame by frame, not
// a quarter second behind: across a generation end too.
TEST_F(LaboratoryTest, TheStatusBarsTimeToLiveKeepsStepWithTheView) {
  StartRun(6);
  for (const int frames : {1, 7, 30, 462, 1}) {
    Frames(frames);
    const TWorld& world = Client().World;
    EXPECT_EQ(lab->TimeToLiveStatus->text(), QStringLiteral("Time to live %1").arg(world.TimeToLive));
    EXPECT_EQ(lab->GenerationStatus->text(), QStringLiteral("Generation %1").arg(world.Generation));
  }
  ASSERT_EQ(Client().World.Generation, 1);
  EXPECT_EQ(lab->AverageStatus->text(), QString::asprintf("Exact average %.2f", Client().World.AverageFitness));
}

// Within a generation a frame changes only the time to live in the status bar: that label
// alone is painted again (on the bar's background behind it), not the whole bar and every
// label on it after a relayout.
TEST_F(LaboratoryTest, AFrameRepaintsOnlyTheStatusBarsTimeToLive) {
  StartRun(6);
  Frames(2);
  QCoreApplication::processEvents();
  struct TCounter : QObject {
    std::map<QObject*, int> Paints, Relayouts;
    QRegion BarPainted;
    bool eventFilter(QObject* object, QEvent* event) override {
      if (event->type() == QEvent::Paint) {
        ++Paints[object];
        if (qobject_cast<QStatusBar*>(object)) BarPainted += static_cast<QPaintEvent*>(event)->region();
      }
      if (event->type() == QEvent::LayoutRequest) ++Relayouts[object];
      return false;
    }
  } counter;
  QStatusBar* bar = lab->statusBar();
  bar->installEventFilter(&counter);
  for (QLabel* label : bar->findChildren<QLabel*>()) label->installEventFilter(&counter);
  for (int i = 0; i < 3; ++i) {
    Frames(1);
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(counter.Paints[lab->TimeToLiveStatus], 3);
  EXPECT_EQ(counter.Relayouts[bar], 0);
  EXPECT_TRUE(QRegion(lab->TimeToLiveStatus->geometry()).contains(counter.BarPainted.boundingRect()))
      << "the bar painted " << counter.BarPainted.boundingRect().width() << " columns";
  EXPECT_EQ(counter.Paints[lab->GenerationStatus], 0);
  EXPECT_EQ(counter.Paints[lab->SeedStatus], 0);
}

TEST_F(LaboratoryTest, TheWindowOpensWhollyOnASmallScreen) {
  const QSize size(620, 640);
  const struct {
    QPoint wanted;
    QRect screen;
    QPoint placed;
  } cases[] = {
      {{195, 112}, {0, 0, 1366, 768}, {195, 112}},  // fits
      {{195, 112}, {0, 0, 1093, 614}, {195, 0}},    // 1366 x 768 at 1.25: moved up
      {{900, 50}, {0, 0, 1093, 700}, {473, 50}},    // moved left
      {{195, 112}, {0, 30, 600, 500}, {0, 30}},     // larger than the screen: its top left
      {{2000, 900}, {1366, 0, 1024, 768}, {1770, 128}},
  };
  for (const auto& c : cases) EXPECT_EQ(FitOnScreen(c.wanted, size, c.screen), c.placed) << c.wanted.x();
}

TEST_F(LaboratoryTest, PauseLooksPressedWhilePausedAndKeepsItsHints) {
  // Focus shows from the start, on Start, framed as keyboard focus is.
  lab->activateWindow();
  QCoreApplication::processEvents();
  EXPECT_EQ(lab->focusWidget(), Client().StartBtn);
  EXPECT_TRUE(lab->testAttribute(Qt::WA_KeyboardFocusChange));
  StartRun(5);
  Client().Timer.SetEnabled(true);
  lab->UpdateStatus();
  EXPECT_FALSE(Client().PauseBtn->isChecked());
  lab->PauseAction->trigger();
  EXPECT_TRUE(Client().PauseBtn->isChecked());
  EXPECT_EQ(Client().PauseBtn->toolTip(), "Unpause");
  QTest::mouseClick(Client().PauseBtn, Qt::LeftButton);
  EXPECT_FALSE(Client().PauseBtn->isChecked());
  EXPECT_EQ(Client().PauseBtn->toolTip(), "Pause");
  EXPECT_TRUE(Client().Timer.Enabled());
  // Restart while paused runs again, and the button says so.
  lab->PauseAction->trigger();
  lab->StartAction->trigger();
  EXPECT_TRUE(Client().Timer.Enabled());
  EXPECT_FALSE(Client().PauseBtn->isChecked());
}

TEST_F(LaboratoryTest, TheChartHasRoundTicksThePlotsColoursAndSaysWhenEmpty) {
  TFitnessChart& chart = *lab->ChartWindow;
  EXPECT_FALSE(chart.EmptyText()->isHidden());
  EXPECT_EQ(chart.AverageSeries()->pen().color(), QColor(AverageColour));
  EXPECT_EQ(chart.BestSeries()->pen().color(), QColor(BestColour));
  std::vector<TGenerationReport> history{{3, 0.75, 3, 0, 0}};
  chart.SetHistory(history, "t");  // one generation: no line to draw, so its points show
  EXPECT_TRUE(chart.EmptyText()->isHidden());
  EXPECT_TRUE(chart.AverageSeries()->pointsVisible() && chart.BestSeries()->pointsVisible());
  for (int32_t g = 4; g <= 40; ++g) history.push_back({g, g / 4.0, g, 0, 0});
  chart.SetHistory(history, "t");
  EXPECT_FALSE(chart.AverageSeries()->pointsVisible());
  EXPECT_EQ(chart.GenerationAxis()->tickInterval(), 5);
  EXPECT_EQ(chart.GenerationAxis()->tickAnchor(), 5);
  EXPECT_EQ(chart.HoverText(QPointF(9.8, 0)), "Generation 10\nAverage fitness 2.50\nBest fitness 10");
  // The pointer over the plot shows the nearest generation's values.
  chart.show();
  QCoreApplication::processEvents();
  QWidget* viewport = chart.findChild<QChartView*>()->viewport();
  const QPointF inChart = chart.Chart()->mapToPosition(QPointF(20, 5), chart.AverageSeries());
  const QPoint at = chart.findChild<QChartView*>()->mapFromScene(chart.Chart()->mapToScene(inChart));
  QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &move);
  EXPECT_EQ(QToolTip::text(), "Generation 20\nAverage fitness 5.00\nBest fitness 20");
}

}  // namespace
}  // namespace zemlix::testing
