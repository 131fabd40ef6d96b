#pragma once

#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/FrameTimer.h"
#include "display/EllipseOutline.h"
#include "display/OutlinedText.h"
#include "display/SpriteList.h"
#include "display/Surfaces.h"
#include "world/World.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace zemlix {

class TSpinEdit;
struct TSavedState;

// The main window: every control, the handlers, and the frame handler that ticks the world
// and draws it. It owns the world and answers the world's questions (field size, starting
// conditions, check boxes) from its controls.
class TMain : public QWidget, public TWorldHost {
  Q_OBJECT

 public:
  // `log` is where NN.log lives (the working directory by default).
  explicit TMain(TNetworkLog log = TNetworkLog(), QWidget* parent = nullptr);
  ~TMain() override;

  // Handlers, named after their control and event.
  void StartBtnClick();
  void PauseBtnClick();
  void WorldSpeedBoxChange();
  void CreatureSelectorChange();
  void WorldViewClick();
  void WorldViewMouseMove(int X, int Y);
  void GetStrongestBtnClick();
  void GetWeakestBtnClick();
  void FeedCreatureBtnClick();
  void PunishCreatureBtnClick();
  void ShowStatsBoxClick();
  void WorldViewEnabledClick();

  // The frame: FPS caption, one world tick, then the world view and the panel.
  void TimerTimer(int LagCount);
  void BlankWorldView();
  void DrawWorldBorder();
  void DrawFood();  // PlaceFood, then DrawPlacedFood
  void PlaceFood();
  void DrawPlacedFood();
  static uint64_t FoodKey(QPoint place);
  void DrawCreatures();
  void DrawWorldStats();
  // What each statistics line shows: a line is set again only when its key changes.
  std::array<uint64_t, 4> StatsKeys() const;
  // The world view's picture as a frame draws it: what the last one drew is cleared, the
  // world drawn, and the buffers swapped.
  void DrawWorldPicture();
  static void DrawOutlinedText(TSurfaceCanvas& canvas, int X, int Y, TColor textColor, TColor outlineColor,
                               const QString& text);

  // Starts a run from a saved state instead of a fresh population, as Start does otherwise:
  // the starting-condition boxes take the state's counts and lifetime first. The state is
  // tried on a scratch world before anything changes, so a state that cannot be restored
  // (EDumpError naming `name`) leaves the running world as it was.
  void StartFromSavedState(const TSavedState& state, const std::string& name);
  // Whether frames are running (a population exists and the timer is on).
  bool Running() const;
  // Draws the world view and the panel from the frozen world, as a frame would but without
  // a tick: selection and manipulation show at once while paused.
  void RedrawWhilePaused();
  // The world view and the observation panel as the visual toggles ask, without a tick.
  void DrawViews();

  // The observation panel of the selected bug.
  void DrawObservation();
  void DrawImpulseMeters(double left, double right) override;
  void ClearObservation();

  // What the world asks of the window.
  int32_t FieldWidth() const override;
  int32_t FieldHeight() const override;
  int32_t NumberOfBugs() const override;
  int32_t NumberOfFood() const override;
  int32_t CreatureLifetime() const override;
  bool RecordNNIO() const override;
  bool ShowStats() const override;

  TWorld World;
  TFrameTimer Timer;
  TSpriteList ObjectImages;

  // Controls, owned by the window through Qt's parent chain.
  QToolButton* PauseBtn;
  QLabel* Label1;
  QLabel* FPSLabel;
  QLabel* Label9;
  QPushButton* StartBtn;
  TSurfaceView* WorldView;
  TSpinEdit* WorldSpeedBox;
  QGroupBox* GroupBox1;
  QLabel* Label7;
  TSpinEdit* CreatureLifetimeBox;
  QLabel* Label2;
  TSpinEdit* NumberOfBugsBox;
  QLabel* Label3;
  TSpinEdit* NumberOfFoodBox;
  QLabel* Label8;
  TSpinEdit* EvolveOnlyBox;
  QGroupBox* ObservationGroup;
  QLabel* FitnessLabel;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  TSpinEdit* CreatureSelector;
  TSurfaceView* GenomeMap;
  QPushButton* GetStrongestBtn;
  QPushButton* GetWeakestBtn;
  TSurfaceView* LeftImpulseMeter;
  TSurfaceView* RightImpulseMeter;
  QGroupBox* ManipulationGroup;
  QPushButton* FeedCreatureBtn;
  QPushButton* PunishCreatureBtn;
  QGroupBox* VisualToggleGroup;
  QCheckBox* WorldViewEnabled;
  QCheckBox* ShowStatsBox;
  QCheckBox* RecordNNIOBox;
  QCheckBox* LimitWeightsBox;

  // The seed of the next Start: fixed, or the clock's (empty).
  std::optional<uint32_t> FixedSeed;
  // The seed the current run started from; empty before the first Start and for a run
  // opened from a file (its starting seed is not recorded there).
  std::optional<uint32_t> RunSeed;
  // Called after every Start, Restart and start from a saved state; may be empty.
  std::function<void()> OnRunStarted;
  // Called just before a running world is replaced (Restart, or a saved state that was
  // found sound), while it still stands; may be empty.
  std::function<void()> BeforeRunReplaced;
  // Called after every drawing of the views; may be empty.
  std::function<void()> OnViewsDrawn;
  // Whether each frame's tick keeps the selected bug's activations (for the brain view).
  bool KeepSelectedActivations = false;
  // Frames drawn from scratch: the whole world view cleared and presented, its texts set and
  // its bugs sampled anew each time. The pictures are the same; tests compare the two.
  bool PlainFrames = false;

  // 1 while CreatureSelectorChange corrects a value it found too large.
  int CreatureSelectorTag = 0;
  // Hints that exist but are not shown as tooltips.
  QString FPSLabelHint;
  QString PauseBtnHint;

 private:
  void BuildControls();
  void FitCaptions();
  void FormCreate();
  void FormDestroy();
  void SelectBug(int32_t index);
  void BeginRun(const std::function<void()>& populate);
  // Runs a handler; a failure of the network log names the log's full path in its box.
  void Handle(const std::function<void()>& handler);
  void DrawMeter(TSurfaceView& meter, double impulse, TColor outline, TColor fill, const char* letter);
  void ClearMeter(TSurfaceView& meter, const char* letter);
  void DrawGenomeBaseline(TSurfaceCanvas& canvas, int W, int m, int n);

  // Where the world view's pictures drew on black, as row spans, for this picture and the one
  // before it: a swapped-in buffer holds the picture before the last, and clearing what that
  // one drew makes it black again. Every drawing but the border notes spans covering it here
  // (a text the rows of its box); the border needs none, since every picture paints all of it
  // first.
  std::vector<TSpan> worldSpans_;
  std::vector<TSpan> lastWorldSpans_;
  // The drawings that a picture often repeats unchanged, by slot (the pellets, then the
  // statistics' lines), apart from the spans above: what and where each drew as a key, and the
  // spans covering it. A drawing with the same key writes every pixel it wrote before, so
  // where the picture in the buffer has the same slots, a slot whose key did not change needs
  // no clearing.
  struct TSlotDrawings {
    std::vector<uint64_t> Keys;
    std::vector<uint32_t> Ends;  // where each slot's spans end in Spans
    std::vector<TSpan> Spans;
    void Clear() {
      Keys.clear();
      Ends.clear();
      Spans.clear();
    }
    void EndSlot(uint64_t key) {
      Keys.push_back(key);
      Ends.push_back(static_cast<uint32_t>(Spans.size()));
    }
  };
  // Clears the slots of `drawn` (the buffer's picture) that the picture about to be drawn,
  // whose keys are slotKeys_, does not draw again the same.
  void ClearChangedSlots(TSurface& surface, const TSlotDrawings& drawn);
  TSlotDrawings slots_, lastSlots_;
  // Whether a picture drew the red border, and the rows (first and last) along which its
  // drawings reached a side column; drawings on the top and bottom rows are not noted.
  struct TBorderDrawings {
    bool Drawn = false;
    int Width = 0;  // of the picture: drawings reaching its last column are noted too
    std::vector<std::pair<int, int>> SideRows;
  };
  // Paints the border again where the buffer, whose picture drew as `drawn` says, lacks it
  // after the clearing: all of it if that picture did not draw it.
  void MendWorldBorder(const TBorderDrawings& drawn);
  void NoteBorderReached(const QRect& drawn);
  TBorderDrawings border_, lastBorder_;
  std::vector<TSpan> sideSpans_;
  std::vector<uint64_t> slotKeys_;
  struct TBugPlace {
    int X, Y, Angle;
  };
  std::vector<TBugPlace> bugPlaces_;  // where DrawCreatures draws each bug
  std::vector<QPoint> foodPlaces_;  // the pellets' top-left corners, as PlaceFood found them
  // The rings around the selected bug and its nearest pellet.
  TEllipseOutlines rings_;
  // The statistics' texts, each made again only when its number changes.
  std::array<TOutlinedText, 4> statsTexts_;
  std::array<std::optional<uint64_t>, 4> statsKeys_;
  // The weights the genome map last drew, and the key of the picture it presented then.
  std::vector<double> genomeShown_;
  qint64 genomeShownKey_ = -1;
  // The frame rate and lag the FPS caption shows; empty before the first frame.
  std::optional<std::pair<int, int>> captionShown_;
  // The impulses the left and right meters show; empty while cleared.
  std::array<std::optional<double>, 2> meterImpulses_;
};

// Runs a handler the way the event loop would: an error abandons the handler and is shown
// in the standard error box; a fatal error ends the program after its own box. A failure
// of the network log carries `logPath` as the details of its report (ReportedErrorDetails).
void RunHandler(const std::function<void()>& handler, const std::filesystem::path& logPath = {});

// The fatal box: the message in a modal box captioned "Zemlix", no icon, one OK button,
// centred on the screen; the program ends when it is closed. Tests replace it.
using FatalErrorHandler = std::function<void(const std::string& message)>;
void SetFatalErrorHandler(FatalErrorHandler handler);
[[noreturn]] void ShowFatalError(const std::string& message);

}  // namespace zemlix
