#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/FamilyLines.h"
#include "ui/MainUnit.h"
#include "ui/Recording.h"
#include "world/World.h"

class QAction;
class QLabel;
class QMenu;
class QTimer;

namespace zemlix {

// Where a window of `size` wanted at `wanted` goes so that it lies wholly within `available`:
// moved up and left as far as needed (and never past its top-left corner).
QPoint FitOnScreen(QPoint wanted, QSize size, const QRect& available);

class TFamilyWindow;
// The window draws a 400 x 400 field and has its own boxes' ranges; a runner's larger world
// is refused, naming the parameter. Empty when the world fits.
std::string WhatTheWindowCannotShow(const TParameters& parameters);

class TBrainWindow;
class TFitnessChart;
class TWorldRecorder;
struct TWindowOptions;

// The program's main window: the simulator's client area (TMain) with a menu bar above it
// and a status bar below it, the fitness history of the run, and the chart window. This is
// where a run is kept and compared: seeds, world files, CSV and SVG exports.
class TLaboratoryWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TLaboratoryWindow(TNetworkLog log = TNetworkLog(), QWidget* parent = nullptr);
  ~TLaboratoryWindow() override;

  // Applies the command line: boxes, speed and seed first, then the world file, if any.
  void ApplyOptions(const TWindowOptions& options);

  // Each reports its own failure in an error box and returns false. A world that cannot be
  // opened leaves the running world running, untouched; a save that fails leaves the file
  // that was there whole.
  bool OpenWorld(const QString& path);
  bool SaveWorld(const QString& path);
  bool ExportHistory(const QString& path);
  bool ExportPlot(const QString& path);
  // Starts recording the world view into `path` with RecordingSettings (a failure is shown
  // in an error box, and false returned); StopRecording finishes the file. Both say in the
  // status bar what happened and where the file is.
  bool StartRecording(const QString& path);
  bool StopRecording();
  bool Recording() const { return Recorder_ != nullptr; }
  TRecordingSettings RecordingSettings;  // kept in the user's settings
  // The selected bug's network as the brain view draws it.
  bool ExportBrain(const QString& path);

  // The seed of the next Start: a number, or the clock's when empty.
  void SetFixedSeed(std::optional<uint32_t> seed);

  // Brings the status bar up to date; a timer calls it a few times a second.
  void UpdateStatus();

  // The plot's title, as the runner would title the same run.
  std::string PlotTitle() const;

  TMain* Client;
  TFitnessChart* ChartWindow;
  // The last generations' parents, for the family window (ui/FamilyWindow.cpp).
  TFamilyLines Family;
  TFamilyWindow* FamilyWindow;
  // The selected bug's parents in words ("Parents: 12 × 40, crossover at 17, 2 mutations",
  // "Parents: copy of 12, 1 mutation", "First generation"); empty before a Start.
  QString ParentsText() const;
  TBrainWindow* BrainWindow;
  // One row per generation ended in this run (and before it, for a world opened with its
  // history).
  std::vector<TGenerationReport> History;
  QString FilePath;  // the world file the run was opened from or saved to; empty when none

  QAction* OpenAction;
  QAction* SaveAction;
  QAction* SaveAsAction;
  QAction* ExportHistoryAction;
  QAction* ExportPlotAction;
  QAction* RecordAction;
  QAction* RecordPanelAction;
  QAction* RecordEveryAction;
  QAction* RecordRateAction;
  QAction* ExportBrainAction;
  QAction* QuitAction;
  QAction* StartAction;
  QAction* PauseAction;
  QAction* SeedAction;
  QAction* StrongestAction;
  QAction* WeakestAction;
  QAction* FeedAction;
  QAction* PunishAction;
  QAction* ChartAction;
  QAction* FamilyAction;
  QAction* BrainAction;
  QAction* LegendAction;
  QAction* AboutAction;
  QMenu* RecentMenu;

  QLabel* GenerationStatus;
  QLabel* TimeToLiveStatus;
  QLabel* AverageStatus;
  QLabel* BestStatus;
  QLabel* SeedStatus;
  QLabel* StateStatus;
  QTimer* StatusTimer;

  // Asks for a file name to open (save false) or to write (save true); empty when the
  // user cancels. Tests replace the dialog.
  std::function<QString(const QString& caption, const QString& filter, bool save)> ChooseFile;
  // Asks a yes/no question about someone else's data (a file changed on disk); true for yes.
  // Tests replace the box.
  std::function<bool(const QString& question)> Confirm;
  // Asks for a whole number within [minimum, maximum], starting from `value`; empty when
  // the user cancels. Tests replace the box.
  std::function<std::optional<int>(const QString& question, int value, int minimum, int maximum)> AskNumber;

  // Where runs about to be discarded are kept (KeptRunsFolder() unless a test moves it).
  QString RunsFolder;
  // Whether the run has advanced since it started, was opened, saved or kept.
  bool RunAdvanced() const;

 protected:
  // Puts the window where it was last (or at its place), wholly on its screen.
  void PlaceOnScreen();

  // Gone means gone: boxes on screen are closed with the window, so their event loops end
  // and nothing is left running behind it.
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void RunStarted();
  void GenerationEnded(const TGenerationReport& report);
  void UpdateTitles();
  QString ChartTitle() const;
  void AskSeed();
  // What the world view draws each frame (time to live, and the generation with its average
  // once one ends), shown in the same frame so that the bar never lags behind the view.
  void ShowFrameValues();
  void ShowGeneration();
  void ShowFileMessage(const QString& text, const QString& path);
  void RememberFolder(const QString& path);
  void ShowLegend();
  void ShowAbout();
  void ChooseAndOpen();
  bool ChooseAndSave();
  // The tick a saved world carries: the ticks since the population's start, as the counters
  // give them with the lifetime the world will go on with.
  std::optional<uint64_t> TickForSave(std::string& reason) const;
  // Writes the run into RunsFolder when it has advanced since it was last written or opened,
  // before something replaces it. Never asks; a failure is reported (on standard error while
  // the window is closing, where a box would hold up the end).
  void KeepRunIfAdvanced(bool closing);
  void MarkClean();
  void RememberRecent(const QString& path);
  void FillRecentMenu();
  void BuildRecordingMenu(QMenu* file);
  void ChooseAndRecord();
  // After every drawing of the views: a frame for a recording under way.
  void RecordFrame();
  std::unique_ptr<TWorldRecorder> Recorder_;

  struct TFileStamp {
    std::filesystem::file_time_type Time;
    uintmax_t Size;
    bool operator==(const TFileStamp&) const = default;
  };
  static std::optional<TFileStamp> StampOf(const QString& path);

  // The file an opened world came from and the tick it stood at; empty for a run started here.
  std::string OpenedFrom_;
  std::optional<uint64_t> OpenedAtTick_;
  // The generation and time to live when the run was last started, opened, saved or kept.
  std::optional<std::pair<int32_t, int32_t>> CleanAt_;
  int32_t ShownGeneration_ = -1;  // the generation the status bar shows
  // FilePath as this window last opened or wrote it; a different file there now was
  // written by someone else.
  std::optional<TFileStamp> FileStamp_;
  bool FocusShown_ = false;
};

}  // namespace zemlix
