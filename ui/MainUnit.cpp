#include "ui/MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "base/Errors.h"
#include "base/Random.h"
#include "display/HandlerErrors.h"
#include "display/Resources.h"
#include "files/SavedState.h"
#include "ui/SpinEdit.h"
#include "ui/UserLocale.h"
#include "world/AdvancedMathUnit.h"
#include "world/Settings.h"

namespace zemlix {
namespace {

// A world on its own answering a saved state's starting conditions: where a state is tried
// before it replaces the window's world.
class TSavedStateHost : public TWorldHost {
 public:
  explicit TSavedStateHost(const TSavedState& state) : State_(state) {}
  int32_t FieldWidth() const override { return DefaultFieldWidth; }
  int32_t FieldHeight() const override { return DefaultFieldHeight; }
  int32_t NumberOfBugs() const override { return State_.Bugs; }
  int32_t NumberOfFood() const override { return State_.Food; }
  int32_t CreatureLifetime() const override { return State_.Lifetime; }

 private:
  const TSavedState& State_;
};

FatalErrorHandler& CurrentFatalErrorHandler() {
  static FatalErrorHandler handler;
  return handler;
}

void ShowFatalBox(const std::string& message) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), QString::fromStdString(message),
                  QMessageBox::Ok);
  box.adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    box.move(screen->geometry().center() - box.rect().center());
  box.exec();
}

QFont ControlFont() {
  QFont font("DejaVu Sans");
  font.setPixelSize(11);
  return font;
}

QFont SerifFont(int points, bool bold) {
  QFont font("DejaVu Serif");
  font.setPixelSize((points * 96 + 36) / 72);
  font.setBold(bold);
  return font;
}

template <typename Widget>
Widget* Place(Widget* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top, int width, int height,
                  bool rightAligned = false) {
  auto* label = Place(new QLabel(caption, parent), left, top, width, height);
  label->setAlignment(rightAligned ? (Qt::AlignRight | Qt::AlignTop) : (Qt::AlignLeft | Qt::AlignTop));
  return label;
}

// The width at which a push button shows its whole caption: the text, a pixel of air on
// each side, and the frame. (Its size hint has a minimum width of its own, far wider.)
int ButtonWidthForCaption(const QPushButton& button) {
  return button.fontMetrics().horizontalAdvance(button.text()) +
         2 * (button.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button) + 1);
}

TSpinEdit* MakeSpinEdit(QWidget* parent, const TSettingRange& range, int left, int top, int width, int height) {
  auto* box = Place(new TSpinEdit(parent), left, top, width, height);
  box->SetMinValue(range.Minimum);
  box->SetMaxValue(range.Maximum);
  box->SetIncrement(range.Step);
  box->SetValue(range.Default);
  return box;
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, int left, int top, int width, int height) {
  return Place(new QPushButton(caption, parent), left, top, width, height);
}

TSurfaceView* MakeView(QWidget* parent, int left, int top, int width, int height) {
  auto* view = Place(new TSurfaceView(parent), left, top, width, height);
  view->SetOptions(doCenter);
  view->SetSurfaceSize(width, height);
  return view;
}

}  // namespace

void SetFatalErrorHandler(FatalErrorHandler handler) { CurrentFatalErrorHandler() = std::move(handler); }

void ShowFatalError(const std::string& message) {
  if (CurrentFatalErrorHandler())
    CurrentFatalErrorHandler()(message);
  else
    ShowFatalBox(message);
  std::exit(EXIT_FAILURE);
}

void RunHandler(const std::function<void()>& handler, const std::filesystem::path& logPath) {
  try {
    handler();
  } catch (const EFatalError& error) {
    ShowFatalError(error.what());
  } catch (const EInOutError& error) {
    std::error_code ignored;
    ReportHandlerError(error, logPath.empty() ? std::string() : std::filesystem::absolute(logPath, ignored).string());
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  }
}

void TMain::Handle(const std::function<void()>& handler) { RunHandler(handler, World.Log.Path()); }

TMain::TMain(TNetworkLog log, QWidget* parent) : QWidget(parent), World(*this, std::move(log)) {
  World.Log.SetDecimalSeparator(UserDecimalSeparator().toStdString());
  BuildControls();
  FormCreate();
}

TMain::~TMain() {
  Handle([this] { FormDestroy(); });
  ObjectImages.SetView(nullptr);
}

void TMain::BuildControls() {
  setWindowTitle("Zemlix");
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QPixmap::fromImage(WindowIconPicture())));
  setFont(ControlFont());
  setGeometry(195, 112, 616, 561);
  setFixedSize(616, 561);
  setAutoFillBackground(true);

  PauseBtn = Place(new QToolButton(this), 576, 160, 23, 22);
  PauseBtn->setAutoRaise(true);
  PauseBtn->setFocusPolicy(Qt::NoFocus);
  PauseBtn->setIcon(QIcon(QPixmap::fromImage(PauseGlyphTransparentPicture())));
  PauseBtn->setIconSize(QSize(20, 15));
  PauseBtnHint = "Pause";
  PauseBtn->setToolTip(PauseBtnHint);

  Label1 = MakeLabel(this, "World Speed:", 479, 188, 65, 13, true);
  FPSLabel = MakeLabel(this, "FPS = ", 480, 208, 45, 13);
  QFont boldItalic = font();
  boldItalic.setBold(true);
  boldItalic.setItalic(true);
  FPSLabel->setFont(boldItalic);
  FPSLabelHint = "Frames Per Second";
  Label9 = MakeLabel(this, "Build #9", 561, 536, 47, 15, true);
  Label9->setFont(SerifFont(10, true));

  StartBtn = MakeButton(this, "Start", 496, 160, 75, 22);
  WorldView = MakeView(this, 8, 8, 400, 400);
  WorldView->setFocusPolicy(Qt::TabFocus);
  WorldView->setMouseTracking(true);  // clicks select near the last position seen
  WorldSpeedBox = MakeSpinEdit(this, WorldSpeedRange, 552, 184, 49, 22);
  WorldSpeedBox->setToolTip("0 Fastest - 20 Slowest");

  GroupBox1 = Place(new QGroupBox("Starting Conditions", this), 416, 8, 193, 129);
  Label7 = MakeLabel(GroupBox1, "Bug LifeTime:", 31, 24, 65, 13, true);
  CreatureLifetimeBox = MakeSpinEdit(GroupBox1, LifetimeRange, 104, 24, 57, 22);
  Label2 = MakeLabel(GroupBox1, "# of Bugs:", 47, 48, 49, 13, true);
  NumberOfBugsBox = MakeSpinEdit(GroupBox1, BugCountRange, 104, 48, 49, 22);
  Label3 = MakeLabel(GroupBox1, "# of Food:", 47, 72, 49, 13, true);
  NumberOfFoodBox = MakeSpinEdit(GroupBox1, FoodCountRange, 104, 72, 49, 22);
  Label8 = MakeLabel(GroupBox1, "Only Evolve Top:", 14, 96, 82, 13);
  Label8->hide();
  EvolveOnlyBox = MakeSpinEdit(GroupBox1, TSettingRange{5, 30, 1, 5}, 104, 96, 49, 22);
  EvolveOnlyBox->setProperty("hint", "Only used for SpawnStongest");
  EvolveOnlyBox->hide();

  ObservationGroup = Place(new QGroupBox("Observation", this), 8, 416, 289, 137);
  FitnessLabel = MakeLabel(ObservationGroup, "Fitness = ", 16, 52, 56, 13);
  QFont bold = font();
  bold.setBold(true);
  FitnessLabel->setFont(bold);
  Label4 = MakeLabel(ObservationGroup, "Bug Selected:", 13, 24, 67, 13, true);
  Label5 = MakeLabel(ObservationGroup, "Chromosome", 16, 80, 54, 11);
  Label5->setFont(SerifFont(7, false));
  Label6 = MakeLabel(ObservationGroup, "Impulse", 242, 80, 33, 11);
  Label6->setFont(SerifFont(7, false));
  CreatureSelector = MakeSpinEdit(ObservationGroup, TSettingRange{0, 199, 1, 0}, 88, 24, 49, 22);
  CreatureSelector->SetEditorEnabled(false);
  CreatureSelector->setEnabled(false);
  GenomeMap = MakeView(ObservationGroup, 16, 96, 217, 33);
  GetStrongestBtn = MakeButton(ObservationGroup, "Strongest", 144, 28, 51, 17);
  GetStrongestBtn->setToolTip("Get Strongest Bug");
  GetWeakestBtn = MakeButton(ObservationGroup, "Weakest", 200, 28, 51, 17);
  GetWeakestBtn->setToolTip("Get Weakest Bug");
  LeftImpulseMeter = MakeView(ObservationGroup, 248, 96, 9, 33);
  RightImpulseMeter = MakeView(ObservationGroup, 264, 96, 9, 33);

  ManipulationGroup = Place(new QGroupBox("Manipulation", this), 304, 416, 105, 81);
  FeedCreatureBtn = MakeButton(ManipulationGroup, "Feed Bug", 16, 24, 73, 17);
  FeedCreatureBtn->setToolTip("Adds 1 Fitness to Bug");
  PunishCreatureBtn = MakeButton(ManipulationGroup, "Punish Bug", 16, 48, 73, 17);
  PunishCreatureBtn->setToolTip("Subtracts 1 Fitness from Bug");
  for (QPushButton* button : {GetStrongestBtn, GetWeakestBtn, FeedCreatureBtn, PunishCreatureBtn}) {
    button->setEnabled(false);
    button->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  }

  VisualToggleGroup = Place(new QGroupBox("Visual Toggles", this), 432, 264, 161, 105);
  WorldViewEnabled = Place(new QCheckBox("Display World", VisualToggleGroup), 8, 24, 89, 17);
  WorldViewEnabled->setChecked(true);
  WorldViewEnabled->setToolTip("Turn off Visual Display to accelerate calculation times");
  ShowStatsBox = Place(new QCheckBox("Show Selected Bug Stats", VisualToggleGroup), 8, 48, 145, 17);
  ShowStatsBox->setChecked(true);
  ShowStatsBox->setToolTip("Turnning off Stat display increades speed of application");
  RecordNNIOBox = Place(new QCheckBox("Record NN Input/Output", VisualToggleGroup), 8, 80, 145, 17);
  RecordNNIOBox->setToolTip("Careful: Log files get big fast!");
  LimitWeightsBox = Place(new QCheckBox("Limit Weights to Values between -1 to +1", this), 304, 504, 217, 17);
  LimitWeightsBox->hide();

  FitCaptions();

  // Tab order of the window's direct children, then within the groups by creation.
  QWidget* tabOrder[] = {StartBtn, WorldView, WorldSpeedBox, CreatureLifetimeBox, NumberOfBugsBox,
                         NumberOfFoodBox, EvolveOnlyBox, CreatureSelector, WorldViewEnabled, ShowStatsBox,
                         RecordNNIOBox, LimitWeightsBox};
  for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  Timer.Tag = TWorld::InitialTimeToLive;
  Timer.SetActiveOnly(false);
  Timer.SetEnabled(false);
  Timer.SetInterval(10);
  Timer.OnTimer = [this](TCustomFrameTimer&, int lagCount) { Handle([&] { TimerTimer(lagCount); }); };
  Timer.Loaded();

  LoadStandardSprites(ObjectImages.Items());
  ObjectImages.SetView(WorldView);

  connect(StartBtn, &QPushButton::clicked, this, [this] { Handle([this] { StartBtnClick(); }); });
  connect(PauseBtn, &QToolButton::clicked, this, [this] { Handle([this] { PauseBtnClick(); }); });
  WorldSpeedBox->OnChange = [this] { Handle([this] { WorldSpeedBoxChange(); }); };
  CreatureSelector->OnChange = [this] { Handle([this] { CreatureSelectorChange(); }); };
  WorldView->OnClick = [this](TCustomSurfaceView&) { Handle([this] { WorldViewClick(); }); };
  WorldView->OnMouseMove = [this](TCustomSurfaceView&, Qt::MouseButtons, Qt::KeyboardModifiers, int x, int y) {
    WorldViewMouseMove(x, y);
  };
  connect(GetStrongestBtn, &QPushButton::clicked, this, [this] { Handle([this] { GetStrongestBtnClick(); }); });
  connect(GetWeakestBtn, &QPushButton::clicked, this, [this] { Handle([this] { GetWeakestBtnClick(); }); });
  connect(FeedCreatureBtn, &QPushButton::clicked, this, [this] { Handle([this] { FeedCreatureBtnClick(); }); });
  connect(PunishCreatureBtn, &QPushButton::clicked, this,
          [this] { Handle([this] { PunishCreatureBtnClick(); }); });
  connect(ShowStatsBox, &QCheckBox::clicked, this, [this] { Handle([this] { ShowStatsBoxClick(); }); });
  connect(WorldViewEnabled, &QCheckBox::clicked, this, [this] { Handle([this] { WorldViewEnabledClick(); }); });
}

void TMain::FitCaptions() {
  // The layout was made for a narrower face than this platform's sans-serif: captions grow
  // to their text from where they stand (right-aligned labels keep their right edge), and a
  // group grows to hold what it contains, so no caption is cut off.
  for (QLabel* label : findChildren<QLabel*>()) {
    const int wanted = label->sizeHint().width();
    if (wanted <= label->width()) continue;
    const QRect box = label->geometry();
    if (label->alignment() & Qt::AlignRight)
      label->setGeometry(box.right() + 1 - wanted, box.top(), wanted, box.height());
    else
      label->resize(wanted, box.height());
  }
  for (QCheckBox* check : findChildren<QCheckBox*>())
    check->resize(std::max(check->width(), check->sizeHint().width()), check->height());
  // A button centres its caption, so it grows on both sides and keeps its centre.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    const int wanted = ButtonWidthForCaption(*button);
    if (wanted <= button->width()) continue;
    const QRect box = button->geometry();
    button->setGeometry(box.left() - (wanted - box.width()) / 2, box.top(), wanted, box.height());
  }
  for (QGroupBox* group : findChildren<QGroupBox*>()) {
    int right = group->width();
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!child->isHidden()) right = std::max(right, child->geometry().right() + 6);
    group->resize(std::min(right, width() - group->x() - 2), group->height());
  }
}

void TMain::FormCreate() {
  if (WorldView->CanDraw()) WorldView->Surface().Fill(0);
  World.Random.Seed = SeedFromClock();
  World.SelectedBug = 0;
  CreatureSelector->SetMaxValue(TWorld::MaxBugs - 1);
  Handle([this] { World.Log.WriteStarted(); });
}

void TMain::FormDestroy() {
  Timer.SetEnabled(false);
  World.Nets.clear();
  World.Creatures.clear();
  World.Log.WriteClosed();
}

void TMain::StartBtnClick() {
  if (World.HasPopulation() && BeforeRunReplaced) BeforeRunReplaced();
  BeginRun([this] {
    RunSeed = FixedSeed ? *FixedSeed : SeedFromClock();
    World.Random.Seed = *RunSeed;
    World.BuildPopulation();
  });
}

void TMain::StartFromSavedState(const TSavedState& state, const std::string& name) {
  {
    TSavedStateHost host(state);
    TWorld trial(host);
    RestoreWorld(trial, state, name);
  }
  if (World.HasPopulation() && BeforeRunReplaced) BeforeRunReplaced();
  NumberOfBugsBox->SetValue(state.Bugs);
  NumberOfFoodBox->SetValue(state.Food);
  CreatureLifetimeBox->SetValue(state.Lifetime);
  BeginRun([&] {
    RunSeed.reset();
    RestoreWorld(World, state, name);
  });
  // The opened world follows its first bug: the box says so.
  SelectBug(World.SelectedBug);
}

void TMain::BeginRun(const std::function<void()>& populate) {
  StartBtn->setText("Restart");
  for (QWidget* control : std::initializer_list<QWidget*>{CreatureSelector, GetStrongestBtn, GetWeakestBtn,
                                                          FeedCreatureBtn, PunishCreatureBtn})
    control->setEnabled(true);
  populate();
  Timer.SetEnabled(true);
  PauseBtnHint = "Pause";
  PauseBtn->setToolTip(PauseBtnHint);
  if (OnRunStarted) OnRunStarted();
}

bool TMain::Running() const { return World.HasPopulation() && Timer.Enabled(); }

void TMain::RedrawWhilePaused() {
  if (!World.HasPopulation() || Timer.Enabled()) return;
  DrawViews();
}

void TMain::PauseBtnClick() {
  // No frame may run without a population: before the first Start the button does nothing.
  if (!World.HasPopulation()) return;
  const bool pausing = Timer.Enabled();
  Timer.SetEnabled(!pausing);
  PauseBtnHint = pausing ? "Unpause" : "Pause";
  PauseBtn->setToolTip(PauseBtnHint);
}

void TMain::WorldSpeedBoxChange() {
  // A value still being typed can be any int: saturate rather than overflow the product.
  const int64_t interval = int64_t{WorldSpeedBox->Value()} * 10;
  Timer.SetInterval(static_cast<int>(std::clamp<int64_t>(interval, INT32_MIN, INT32_MAX)));
}

void TMain::CreatureSelectorChange() {
  const int value = CreatureSelector->Value();
  if (value > World.BugCount - 1) {
    // Fires this handler again from within; the inner run steps down once more or selects.
    CreatureSelector->SetValue(value - 1);
    CreatureSelectorTag = 1;
  }
  if (CreatureSelectorTag == 0) {
    World.SelectedBug = CreatureSelector->Value();
    RedrawWhilePaused();
  } else {
    CreatureSelectorTag = 0;
  }
}

void TMain::WorldViewMouseMove(int X, int Y) {
  World.MouseX = X;
  World.MouseY = Y;
}

void TMain::SelectBug(int32_t index) {
  World.SelectedBug = index;
  CreatureSelector->SetValue(index);
  // Setting the value the selector already shows fires no change.
  RedrawWhilePaused();
}

void TMain::WorldViewClick() {
  if (!World.HasPopulation() || World.BugCount <= 0) return;
  int32_t best = 0;
  long double bestDistance =
      Distance(World.MouseX, World.MouseY, World.Creatures[0].X, World.Creatures[0].Y);
  for (int32_t i = 1; i < World.BugCount; ++i) {
    const long double d = Distance(World.MouseX, World.MouseY, World.Creatures[i].X, World.Creatures[i].Y);
    if (d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  SelectBug(best);
}

void TMain::GetStrongestBtnClick() {
  if (!World.HasPopulation() || World.BugCount <= 0) return;
  int32_t best = 0;
  for (int32_t i = 1; i < World.BugCount; ++i)
    if (World.Nets[i].Fitness > World.Nets[best].Fitness) best = i;
  SelectBug(best);
}

void TMain::GetWeakestBtnClick() {
  if (!World.HasPopulation() || World.BugCount <= 0) return;
  int32_t worst = 0;
  for (int32_t i = 1; i < World.BugCount; ++i)
    if (World.Nets[i].Fitness < World.Nets[worst].Fitness) worst = i;
  SelectBug(worst);
}

void TMain::FeedCreatureBtnClick() {
  if (!World.HasPopulation()) return;
  ++World.Nets[World.SelectedBug].Fitness;
  RedrawWhilePaused();
}

void TMain::PunishCreatureBtnClick() {
  if (!World.HasPopulation()) return;
  --World.Nets[World.SelectedBug].Fitness;
  RedrawWhilePaused();
}

void TMain::ShowStatsBoxClick() {
  if (!ShowStatsBox->isChecked()) ClearObservation();
}

void TMain::WorldViewEnabledClick() {
  if (!WorldViewEnabled->isChecked()) BlankWorldView();
}

int32_t TMain::FieldWidth() const { return WorldView->SurfaceWidth(); }
int32_t TMain::FieldHeight() const { return WorldView->SurfaceHeight(); }
int32_t TMain::NumberOfBugs() const { return NumberOfBugsBox->Value(); }
int32_t TMain::NumberOfFood() const { return NumberOfFoodBox->Value(); }
// A value still being typed may lie outside the box's range; the world never sees it.
int32_t TMain::CreatureLifetime() const {
  return std::clamp(CreatureLifetimeBox->Value(), LifetimeRange.Minimum, LifetimeRange.Maximum);
}
bool TMain::RecordNNIO() const { return RecordNNIOBox->isChecked(); }
bool TMain::ShowStats() const { return ShowStatsBox->isChecked(); }

}  // namespace zemlix
