#include "ui/LaboratoryWindow.h"

#include <QAction>
#include <QChart>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "base/Version.h"
#include "ui/BrainWindow.h"
#include "display/HandlerErrors.h"
#include "ui/CommandLine.h"
#include "files/WorldFile.h"
#include "ui/FamilyWindow.h"
#include "ui/FitnessChart.h"
#include "ui/KeptRuns.h"
#include "ui/RecentRuns.h"
#include "ui/SeedDialog.h"
#include "ui/SpinEdit.h"
#include "ui/UserLocale.h"

namespace zemlix {
namespace {

constexpr int StatusIntervalMs = 250;

// The dialogs start in the folder of the last world opened or saved.
QString FileDialog(QWidget* parent, const QString& caption, const QString& filter, bool save) {
  const QString folder = UserSettings()->value("folders/last").toString();
  return save ? QFileDialog::getSaveFileName(parent, caption, folder, filter)
              : QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

}  // namespace

TLaboratoryWindow::TLaboratoryWindow(TNetworkLog log, QWidget* parent)
    : QMainWindow(parent),
      Client(new TMain(std::move(log))),
      ChartWindow(new TFitnessChart(this)),
      BrainWindow(new TBrainWindow(*Client, this)) {
  setWindowTitle("Zemlix");
  setWindowIcon(Client->windowIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setCentralWidget(Client);
  ChooseFile = [this](const QString& caption, const QString& filter, bool save) {
    return FileDialog(this, caption, filter, save);
  };
  Confirm = [this](const QString& question) {
    return QMessageBox::question(this, "Zemlix", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  };
  AskNumber = [this](const QString& question, int value, int minimum, int maximum) -> std::optional<int> {
    bool ok = false;
    const int number = QInputDialog::getInt(this, "Zemlix", question, value, minimum, maximum, 1, &ok);
    return ok ? std::optional<int>(number) : std::nullopt;
  };
  RunsFolder = KeptRunsFolder();
  FamilyWindow = new TFamilyWindow(Family, Client->World, this);
  FamilyWindow->Tree->OnBugClicked = [this](int32_t bug) { Client->CreatureSelector->SetValue(bug); };
  // The brain view's title names the bug's parents.
  BrainWindow->DescribeBug = [this](int32_t bug) {
    const TWorld& world = Client->World;
    if (bug < 0 || static_cast<size_t>(bug) >= world.Parentage.size()) return QString();
    return zemlix::ParentsText(world.Parentage[bug], world.Generation);
  };
  {
    const auto settings = UserSettings();
    RecordingSettings.WithPanel = settings->value("recording/panel", false).toBool();
    const auto read = [&settings](const char* key, const TSettingRange& range) {
      return std::clamp(settings->value(key, range.Default).toInt(), range.Minimum, range.Maximum);
    };
    RecordingSettings.Every = read("recording/every", RecordEveryRange);
    RecordingSettings.FramesPerSecond = read("recording/fps", RecordRateRange);
  }
  BuildMenus();
  BuildStatusBar();
  Client->StartBtn->setFocus();
  // The Pause button looks pressed while the world is paused; its caption and hints stay.
  Client->PauseBtn->setCheckable(true);
  // The client area keeps its fixed size; the bars above and below add to it.
  setFixedSize(sizeHint());
  PlaceOnScreen();

  Client->OnRunStarted = [this] { RunStarted(); };
  Client->BeforeRunReplaced = [this] { KeepRunIfAdvanced(false); };
  // The time to live changes every frame: the bar shows it with the view's own, so the two
  // never disagree on screen. Its label has a fixed size, so a new text costs no relayout (with
  // a fixed width alone, every frame relaid out the bar and painted all of it again).
  TimeToLiveStatus->setFixedSize(TimeToLiveStatus->fontMetrics().horizontalAdvance("Time to live 00000") + 4,
                                 TimeToLiveStatus->sizeHint().height());
  Client->OnViewsDrawn = [this] {
    ShowFrameValues();
    RecordFrame();
    if (BrainWindow->isVisible()) BrainWindow->Refresh();
  };
  connect(Client->PauseBtn, &QToolButton::clicked, this, [this] { UpdateStatus(); });
  Client->World.OnGenerationEnd = [this](const TGenerationReport& report) { GenerationEnded(report); };
  ChartWindow->SetHistory(History, ChartTitle());

  StatusTimer = new QTimer(this);
  StatusTimer->setInterval(StatusIntervalMs);
  connect(StatusTimer, &QTimer::timeout, this, [this] { UpdateStatus(); });
  StatusTimer->start();
  UpdateStatus();
}

TLaboratoryWindow::~TLaboratoryWindow() {
  // The world outlives nothing that listens to it.
  Client->World.OnGenerationEnd = nullptr;
  Client->OnRunStarted = nullptr;
  Client->BeforeRunReplaced = nullptr;
  Client->OnViewsDrawn = nullptr;
}

QPoint FitOnScreen(QPoint wanted, QSize size, const QRect& available) {
  const int x = std::max(available.left(), std::min(wanted.x(), available.right() + 1 - size.width()));
  const int y = std::max(available.top(), std::min(wanted.y(), available.bottom() + 1 - size.height()));
  return {x, y};
}

void TLaboratoryWindow::PlaceOnScreen() {
  const QPoint wanted = UserSettings()->value("window/position", QPoint(195, 112)).toPoint();
  const QScreen* screen = QGuiApplication::screenAt(wanted);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    move(wanted);
    return;
  }
  // The frame a window manager adds is not known before the window is shown: room is left
  // for a title bar.
  constexpr int TitleBarAllowance = 32;
  const QPoint place = FitOnScreen(wanted, size() + QSize(0, TitleBarAllowance), screen->availableGeometry());
  move(place);
}

void TLaboratoryWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Keyboard users see where they are from the start. Activation gives focus for the
  // window's own reason, which styles do not frame; once it is done, the window is marked
  // as focused from the keyboard (a click clears that again, as usual).
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !FocusShown_) {
    FocusShown_ = true;
    QTimer::singleShot(0, this, [this] {
      setAttribute(Qt::WA_KeyboardFocusChange);
      if (QWidget* focus = focusWidget()) focus->update();
    });
  }
}

void TLaboratoryWindow::closeEvent(QCloseEvent* event) {
  // A modal box spins its own event loop inside whatever handler opened it; while it
  // stands, the program cannot end. Each close ends one loop; a box that refuses to go is
  // left after a few tries rather than spinning here.
  for (int tries = 0; tries < 8; ++tries) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == this) break;
    modal->close();
  }
  KeepRunIfAdvanced(true);
  // A recording under way is finished: the frames so far are the user's movie.
  if (Recording()) StopRecording();
  UserSettings()->setValue("window/position", pos());
  QMainWindow::closeEvent(event);
}

void TLaboratoryWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  OpenAction = file->addAction("&Open World…", this, [this] { ChooseAndOpen(); });
  OpenAction->setShortcut(QKeySequence::Open);
  SaveAction = file->addAction("&Save World", this, [this] {
    if (FilePath.isEmpty())
      ChooseAndSave();
    else
      SaveWorld(FilePath);
  });
  SaveAction->setShortcut(QKeySequence::Save);
  SaveAsAction = file->addAction("Save World &As…", this, [this] { ChooseAndSave(); });
  SaveAsAction->setShortcut(QKeySequence("Ctrl+Shift+S"));
  RecentMenu = file->addMenu("&Recent");
  connect(RecentMenu, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  file->addSeparator();
  ExportHistoryAction = file->addAction("Export &History (CSV)…", this, [this] {
    const QString path = ChooseFile("Export History", "CSV files (*.csv);;All files (*)", true);
    if (!path.isEmpty()) ExportHistory(path);
  });
  ExportPlotAction = file->addAction("Export &Plot (SVG)…", this, [this] {
    const QString path = ChooseFile("Export Plot", "SVG pictures (*.svg);;All files (*)", true);
    if (!path.isEmpty()) ExportPlot(path);
  });
  ExportBrainAction = file->addAction("Export &Brain (SVG)…", this, [this] {
    const QString path = ChooseFile("Export Brain", "SVG pictures (*.svg);;All files (*)", true);
    if (!path.isEmpty()) ExportBrain(path);
  });
  connect(BrainWindow->ExportButton, &QPushButton::clicked, ExportBrainAction, &QAction::trigger);
  file->addSeparator();
  BuildRecordingMenu(file);
  file->addSeparator();
  QuitAction = file->addAction("&Quit", this, [this] { close(); });
  QuitAction->setShortcut(QKeySequence("Ctrl+Q"));

  // Mnemonics are unique within each menu in every state: Start and Restart share t, Pause
  // and Resume are never shown together.
  QMenu* run = menuBar()->addMenu("&Run");
  StartAction = run->addAction("S&tart", this, [this] { Client->StartBtn->click(); });
  StartAction->setShortcut(QKeySequence(Qt::Key_F5));
  PauseAction = run->addAction("&Pause", this, [this] { Client->PauseBtn->click(); });
  PauseAction->setShortcut(QKeySequence(Qt::Key_F6));
  run->addSeparator();
  SeedAction = run->addAction("&Seed…", this, [this] { AskSeed(); });

  // The observation and manipulation buttons are no tab stops; the keyboard reaches them here.
  QMenu* bug = menuBar()->addMenu("&Bug");
  StrongestAction = bug->addAction("&Strongest", this, [this] { Client->GetStrongestBtn->click(); });
  StrongestAction->setShortcut(QKeySequence("Ctrl+Up"));
  WeakestAction = bug->addAction("&Weakest", this, [this] { Client->GetWeakestBtn->click(); });
  WeakestAction->setShortcut(QKeySequence("Ctrl+Down"));
  bug->addSeparator();
  FeedAction = bug->addAction("&Feed Bug", this, [this] { Client->FeedCreatureBtn->click(); });
  FeedAction->setShortcuts({QKeySequence("Ctrl++"), QKeySequence("Ctrl+=")});
  PunishAction = bug->addAction("&Punish Bug", this, [this] { Client->PunishCreatureBtn->click(); });
  PunishAction->setShortcut(QKeySequence("Ctrl+-"));

  QMenu* view = menuBar()->addMenu("&View");
  ChartAction = view->addAction("Fitness &Chart", this, [this] {
    // Beside the main window the first time; where the user put it after that.
    if (!ChartWindow->testAttribute(Qt::WA_Moved)) {
      ChartWindow->resize(ChartWindow->width(), height());
      const QPoint beside = frameGeometry().topRight() + QPoint(8, 0);
      const QScreen* screen = this->screen();
      ChartWindow->move(screen ? FitOnScreen(beside, ChartWindow->frameSize(), screen->availableGeometry()) : beside);
    }
    ChartWindow->show();
    ChartWindow->raise();
    ChartWindow->activateWindow();
  });
  ChartAction->setShortcut(QKeySequence("Ctrl+G"));
  FamilyAction = view->addAction("&Family", this, [this] {
    // Beside the main window, below where the chart opens, the first time.
    if (!FamilyWindow->testAttribute(Qt::WA_Moved)) {
      const QPoint beside = frameGeometry().topRight() + QPoint(8, 48);
      const QScreen* screen = this->screen();
      FamilyWindow->move(screen ? FitOnScreen(beside, FamilyWindow->frameSize(), screen->availableGeometry()) : beside);
    }
    FamilyWindow->Refresh();
    FamilyWindow->show();
    FamilyWindow->raise();
    FamilyWindow->activateWindow();
  });
  BrainAction = view->addAction("&Brain", this, [this] {
    // Beside the main window the first time, level with its bottom (the chart takes its top).
    if (!BrainWindow->testAttribute(Qt::WA_Moved)) {
      const QPoint beside = frameGeometry().bottomRight() + QPoint(8, 1 - BrainWindow->frameSize().height());
      const QScreen* screen = this->screen();
      BrainWindow->move(screen ? FitOnScreen(beside, BrainWindow->frameSize(), screen->availableGeometry()) : beside);
    }
    BrainWindow->show();
    BrainWindow->raise();
    BrainWindow->activateWindow();
  });
  BrainAction->setShortcut(QKeySequence("Ctrl+B"));

  QMenu* help = menuBar()->addMenu("&Help");
  LegendAction = help->addAction("&Legend", this, [this] { ShowLegend(); });
  AboutAction = help->addAction("&About Zemlix", this, [this] { ShowAbout(); });
}

void TLaboratoryWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setSizeGripEnabled(false);
  for (QLabel** label :
       {&GenerationStatus, &TimeToLiveStatus, &AverageStatus, &BestStatus, &SeedStatus, &StateStatus}) {
    *label = new QLabel(this);
    bar->addWidget(*label);
  }
}

void TLaboratoryWindow::ApplyOptions(const TWindowOptions& options) {
  if (options.Bugs) Client->NumberOfBugsBox->SetValue(*options.Bugs);
  if (options.Food) Client->NumberOfFoodBox->SetValue(*options.Food);
  if (options.Lifetime) Client->CreatureLifetimeBox->SetValue(*options.Lifetime);
  if (options.Speed) Client->WorldSpeedBox->SetValue(*options.Speed);
  if (options.Seed) SetFixedSeed(options.Seed);
  if (!options.File.empty()) OpenWorld(QString::fromStdString(options.File));
  UpdateStatus();
}

void TLaboratoryWindow::SetFixedSeed(std::optional<uint32_t> seed) {
  Client->FixedSeed = seed;
  UpdateStatus();
}

void TLaboratoryWindow::RunStarted() {
  Family.Start(Client->World.Generation, Client->World.Parentage);
  if (Recorder_) Recorder_->WorldReplaced();
  History.clear();
  FilePath.clear();
  FileStamp_.reset();
  OpenedFrom_.clear();
  OpenedAtTick_.reset();
  MarkClean();
  ChartWindow->SetHistory(History, ChartTitle());
  UpdateTitles();
  UpdateStatus();
  BrainWindow->Refresh();
}

void TLaboratoryWindow::GenerationEnded(const TGenerationReport& report) {
  const TWorld& world = Client->World;
  Family.Add(report.Generation, std::span(world.Parentage).first(static_cast<size_t>(world.BugCount)));
  History.push_back(report);
  ChartWindow->Append(report);
}

void TLaboratoryWindow::UpdateTitles() {
  // [*] is where Qt shows the modified marker (setWindowModified).
  setWindowTitle(FilePath.isEmpty() ? QString("Zemlix[*]") : QFileInfo(FilePath).fileName() + "[*] — Zemlix");
  setWindowModified(RunAdvanced());
  ChartWindow->Chart()->setTitle(ChartTitle());
}

QString TLaboratoryWindow::ChartTitle() const {
  QString title = "Average and best fitness";
  if (Client->RunSeed) return title + QStringLiteral(", seed %1").arg(*Client->RunSeed);
  if (OpenedAtTick_) return title + QStringLiteral(", seed unknown (opened at tick %1)").arg(*OpenedAtTick_);
  return title;
}

std::string TLaboratoryWindow::PlotTitle() const {
  const TWorld& world = Client->World;
  std::string title = "Zemlix: ";
  if (Client->RunSeed)
    title += "seed " + std::to_string(*Client->RunSeed);
  else
    title += "resumed from " + OpenedFrom_ + " at tick " + std::to_string(OpenedAtTick_.value_or(0));
  title += ", " + std::to_string(world.BugCount) + " bugs, " + std::to_string(world.FoodCount) + " food, lifetime " +
           std::to_string(world.Lifetime()) + ", " + std::to_string(History.size()) +
           " generations";
  return title;
}

void TLaboratoryWindow::UpdateStatus() {
  const TWorld& world = Client->World;
  const bool started = world.HasPopulation();
  ShowGeneration();
  ShowFrameValues();
  // Short texts: the bar has no room to spare at the window's own width.
  SeedStatus->setToolTip(started && !Client->RunSeed ? "Opened from a file, which does not record the seed" : QString());
  if (started && Client->RunSeed)
    SeedStatus->setText(QStringLiteral("Seed %1").arg(*Client->RunSeed));
  else if (started)
    SeedStatus->setText("Seed unknown");
  else if (Client->FixedSeed)
    SeedStatus->setText(QStringLiteral("Seed %1 (next Start)").arg(*Client->FixedSeed));
  else
    SeedStatus->setText("Seed from the clock");
  const bool running = Client->Running();
  if (FamilyWindow->isVisible()) FamilyWindow->Refresh();
  QString state = !started ? "Not started" : running ? "Running" : "Paused";
  if (Recorder_) state += QStringLiteral(", recording (%1 frames)").arg(Recorder_->Frames());
  StateStatus->setText(state);

  StartAction->setText(started ? "Res&tart" : "S&tart");
  PauseAction->setText(started && !running ? "&Resume" : "&Pause");
  Client->PauseBtn->setChecked(started && !running);
  for (QAction* action : {SaveAction, SaveAsAction, ExportHistoryAction, ExportPlotAction, ExportBrainAction,
                          StrongestAction, WeakestAction, FeedAction, PunishAction})
    action->setEnabled(started);
  setWindowModified(RunAdvanced());
}

void TLaboratoryWindow::ShowGeneration() {
  const TWorld& world = Client->World;
  ShownGeneration_ = world.Generation;
  GenerationStatus->setText(QStringLiteral("Generation %1").arg(world.Generation));
  // The world view rounds the average to two significant digits; the bar says that its
  // number is the exact one, so the two never seem to disagree.
  AverageStatus->setText(world.Generation > 0
                             ? ForPerson(QString::asprintf("Exact average %.2f", world.AverageFitness))
                             : QString("Exact average —"));
  AverageStatus->setToolTip(
      "The average fitness of the last generation to two decimals; the world view shows it rounded to two "
      "significant digits.");
  if (History.empty()) {
    BestStatus->setText("Best so far —");
  } else {
    int32_t best = History.front().BestFitness;
    for (const TGenerationReport& report : History) best = std::max(best, report.BestFitness);
    BestStatus->setText(QStringLiteral("Best so far %1").arg(best));
  }
}

void TLaboratoryWindow::ShowFrameValues() {
  const TWorld& world = Client->World;
  if (world.Generation != ShownGeneration_) ShowGeneration();
  const QString text = world.HasPopulation() ? QStringLiteral("Time to live %1").arg(world.TimeToLive)
                                             : QString("Time to live —");
  if (TimeToLiveStatus->text() != text) TimeToLiveStatus->setText(text);
}

bool TLaboratoryWindow::RunAdvanced() const {
  const TWorld& world = Client->World;
  return world.HasPopulation() && CleanAt_ != std::pair(world.Generation, world.TimeToLive);
}

void TLaboratoryWindow::MarkClean() {
  CleanAt_ = std::pair(Client->World.Generation, Client->World.TimeToLive);
  setWindowModified(false);
}

void TLaboratoryWindow::KeepRunIfAdvanced(bool closing) {
  if (!RunAdvanced()) return;
  const TWorld& world = Client->World;
  std::string reason;
  const std::optional<uint64_t> tick = TickForSave(reason);
  try {
    if (!tick) throw std::runtime_error(reason);
    const QDateTime now = QDateTime::currentDateTime();
    const std::filesystem::path path =
        KeepRun(RunsFolder.toStdString(), KeptRunName(now, Client->RunSeed),
                FormatWorldFile(world, *tick, Client->CreatureLifetimeBox->Value(), History));
    const QString kept = QString::fromStdString(path.string());
    RememberRecentRun(*UserSettings(), {kept, world.Generation, Client->RunSeed, now});
    MarkClean();
    ShowFileMessage(QStringLiteral("Kept generation %1 in").arg(world.Generation), kept);
  } catch (const std::exception& e) {
    const std::string message = std::string("The run was not kept: ") + e.what();
    if (closing)
      std::cerr << message << "\n";
    else
      ReportHandlerError(message);
  }
}

std::optional<TLaboratoryWindow::TFileStamp> TLaboratoryWindow::StampOf(const QString& path) {
  std::error_code error;
  const std::filesystem::path file = path.toStdString();
  const auto time = std::filesystem::last_write_time(file, error);
  if (error) return std::nullopt;
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return std::nullopt;
  return TFileStamp{time, size};
}

void TLaboratoryWindow::RememberRecent(const QString& path) {
  RememberRecentRun(*UserSettings(), {QFileInfo(path).absoluteFilePath(), Client->World.Generation, Client->RunSeed,
                                      QDateTime::currentDateTime()});
}

void TLaboratoryWindow::FillRecentMenu() {
  RecentMenu->clear();
  const std::vector<TRecentRun> runs = LoadRecentRuns(*UserSettings());
  if (runs.empty()) RecentMenu->addAction("No saved, opened or kept runs yet")->setEnabled(false);
  for (int i = 0; i < static_cast<int>(runs.size()); ++i) {
    const QString path = runs[i].Path;
    QAction* action = RecentMenu->addAction(RecentRunText(runs[i], i), this, [this, path] {
      if (!OpenWorld(path) && !QFileInfo::exists(path)) ForgetRecentRun(*UserSettings(), path);
    });
    action->setToolTip(path);
  }
}

void TLaboratoryWindow::AskSeed() {
  TSeedDialog dialog(Client->FixedSeed, this);
  if (dialog.exec() == QDialog::Accepted) SetFixedSeed(dialog.Seed());
}

void TLaboratoryWindow::ShowFileMessage(const QString& text, const QString& path) {
  // The path is shortened in its middle so that the file's name stays in sight.
  const QFontMetrics metrics(statusBar()->font());
  const int room = width() - 24 - metrics.horizontalAdvance(text + " ");
  statusBar()->showMessage(text + " " + metrics.elidedText(path, Qt::ElideMiddle, std::max(room, 80)), 10000);
}

void TLaboratoryWindow::BuildRecordingMenu(QMenu* file) {
  RecordAction = file->addAction("Re&cord…", this, [this] { ChooseAndRecord(); });
  RecordAction->setShortcut(QKeySequence("Ctrl+R"));
  QMenu* options = file->addMenu("Recording Op&tions");
  RecordPanelAction = options->addAction("Include the Observation &Panel");
  RecordPanelAction->setCheckable(true);
  RecordPanelAction->setChecked(RecordingSettings.WithPanel);
  connect(RecordPanelAction, &QAction::toggled, this, [this](bool on) {
    RecordingSettings.WithPanel = on;
    UserSettings()->setValue("recording/panel", on);
  });
  RecordEveryAction = options->addAction(QString(), this, [this] {
    if (const auto every = AskNumber("Record one frame every how many ticks?", RecordingSettings.Every,
                                      RecordEveryRange.Minimum, RecordEveryRange.Maximum)) {
      RecordingSettings.Every = *every;
      UserSettings()->setValue("recording/every", *every);
      RecordEveryAction->setText(QStringLiteral("One Frame &Every %1 Ticks…").arg(*every));
    }
  });
  RecordEveryAction->setText(QStringLiteral("One Frame &Every %1 Ticks…").arg(RecordingSettings.Every));
  RecordRateAction = options->addAction(QString(), this, [this] {
    if (const auto fps = AskNumber("Frames per second of the video:", RecordingSettings.FramesPerSecond,
                                    RecordRateRange.Minimum, RecordRateRange.Maximum)) {
      RecordingSettings.FramesPerSecond = *fps;
      UserSettings()->setValue("recording/fps", *fps);
      RecordRateAction->setText(QStringLiteral("Frame &Rate %1 per Second…").arg(*fps));
    }
  });
  RecordRateAction->setText(QStringLiteral("Frame &Rate %1 per Second…").arg(RecordingSettings.FramesPerSecond));
  if (!RecordingAvailable()) {
    RecordAction->setEnabled(false);
    options->setEnabled(false);
    RecordAction->setToolTip(QString::fromStdString(RecordingNameRefusal({})));
  }
}

void TLaboratoryWindow::ChooseAndRecord() {
  if (Recording()) {
    StopRecording();
    return;
  }
  QString path = ChooseFile("Record", "MP4 videos (*.mp4);;WebM videos (*.webm);;GIF animations (*.gif)", true);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += ".mp4";
  StartRecording(path);
}

bool TLaboratoryWindow::StartRecording(const QString& path) {
  if (Recording()) StopRecording();
  try {
    Recorder_ = std::make_unique<TWorldRecorder>(*Client, path.toStdString(), RecordingSettings);
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The recording was not started: ") + e.what());
    return false;
  }
  RecordAction->setText("Stop Re&cording");
  ShowFileMessage("Recording to", QFileInfo(path).absoluteFilePath());
  UpdateStatus();
  return true;
}

bool TLaboratoryWindow::StopRecording() {
  if (!Recording()) return false;
  const std::unique_ptr<TWorldRecorder> recorder = std::move(Recorder_);
  RecordAction->setText("Re&cord…");
  UpdateStatus();
  const QString path = QFileInfo(QString::fromStdString(recorder->Path())).absoluteFilePath();
  try {
    recorder->Finish();
  } catch (const std::exception& e) {
    statusBar()->clearMessage();
    ReportHandlerError(std::string("The recording was not saved: ") + e.what());
    return false;
  }
  ShowFileMessage(QStringLiteral("Recording stopped: %1 frames in").arg(recorder->Frames()), path);
  return true;
}

void TLaboratoryWindow::RecordFrame() {
  if (!Recording()) return;
  try {
    Recorder_->ViewsDrawn();
  } catch (const std::exception& e) {
    // What was recorded cannot be finished either: the temporary goes with the recorder.
    Recorder_.reset();
    RecordAction->setText("Re&cord…");
    statusBar()->clearMessage();
    ReportHandlerError(std::string("The recording was stopped: ") + e.what());
  }
}

void TLaboratoryWindow::ShowLegend() {
  QMessageBox::information(
      this, "Legend — Zemlix",
      "<p><b>World view</b></p>"
      "<ul><li>Green arrows are the bugs; each points the way it is heading.</li>"
      "<li>Red circles are the food pellets. A bug that comes close enough eats one and gains a fitness "
      "point, and the pellet reappears elsewhere.</li>"
      "<li>Two blue rings, blinking lighter, mark the selected bug.</li>"
      "<li>Purple rings pulse around the pellet nearest to the selected bug: the one its network sees.</li>"
      "<li>The red frame is the field's edge; a bug that crosses it comes back on the other side.</li>"
      "<li>Yellow text: the generation, the frames it has left to live, the pellets eaten in it so far, "
      "and the average fitness of the last generation.</li></ul>"
      "<p><b>Observation</b></p>"
      "<ul><li>Chromosome: the selected bug's network weights as yellow bars, up for positive and down for "
      "negative.</li>"
      "<li>Impulse: its left (L, green) and right (R, red) outputs in the last frame; together they turn "
      "the bug and drive it forward.</li></ul>");
}

void TLaboratoryWindow::ShowAbout() {
  QMessageBox::about(this, "About Zemlix",
                     QStringLiteral("<p><b>Zemlix %1</b></p><p>Bugs with small neural networks evolving by a "
                                    "genetic algorithm.</p><p>Runs saved here continue exactly in "
                                    "<tt>zemlix-sim --load</tt>, and the other way round.</p>"
                                    "<p>Free software under the MIT licence.</p>")
                         .arg(Version));
}

}  // namespace zemlix
