#include "base/Errors.h"
#include "base/FormatFixed.h"
#include "base/Rounding.h"
#include "ui/MainUnit.h"
#include "ui/UserLocale.h"
#include "world/AdvancedMathUnit.h"

#include <QCheckBox>
#include <QLabel>

namespace zemlix {
namespace {

constexpr TColor StatsTextColor = clYellow;
constexpr TColor StatsOutlineColor = 0x002222;
constexpr TColor RingColor = 0xFF0000;
constexpr TColor RingBlinkColor = 0xFF5555;
constexpr TColor NearestFoodRingColor = 0x551155;
constexpr int CreaturePicture = 0;
constexpr int FoodPicture = 1;

}  // namespace

void TMain::TimerTimer(int LagCount) {
  // The caption changes about once a second: set and size it only then.
  const QString caption = QStringLiteral("FPS = %1(%2 Lag)").arg(Timer.FrameRate()).arg(LagCount);
  if (FPSLabel->text() != caption) {
    FPSLabel->setText(caption);
    FPSLabel->adjustSize();
  }

  World.KeepActivationsOf = KeepSelectedActivations ? World.SelectedBug : -1;
  try {
    World.Tick();
  } catch (const EInOutError&) {
    // A log that cannot be written would fail again in every frame: stop recording, so the
    // failure is reported once and the user can check the box again.
    RecordNNIOBox->setChecked(false);
    throw;
  }

  // Before the first Start the bug and network slots are empty: nothing to draw, and the
  // views keep their black.
  if (!World.HasPopulation()) return;
  if (!WorldView->CanDraw()) return;
  DrawViews();
}

void TMain::DrawViews() {
  if (WorldViewEnabled->isChecked() && WorldView->CanDraw()) {
    WorldView->Surface().Fill(0);
    DrawWorldBorder();
    DrawFood();
    DrawCreatures();
    DrawWorldStats();
    WorldView->Flip();
  }
  if (ShowStatsBox->isChecked()) DrawObservation();
  if (OnViewsDrawn) OnViewsDrawn();
}

void TMain::DrawOutlinedText(TSurfaceCanvas& canvas, int X, int Y, TColor textColor, TColor outlineColor,
                             const QString& text) {
  canvas.Font.SetColor(outlineColor);
  canvas.TextOut(X - 1, Y, text);
  canvas.TextOut(X + 1, Y, text);
  canvas.TextOut(X, Y - 1, text);
  canvas.TextOut(X, Y + 1, text);
  canvas.Font.SetColor(textColor);
  canvas.TextOut(X, Y, text);
}

void TMain::DrawWorldBorder() {
  TSurfaceCanvas& canvas = WorldView->Surface().Canvas();
  canvas.Brush.SetColor(clNone);
  canvas.Pen.SetColor(clRed);
  canvas.Rectangle(0, 0, WorldView->SurfaceWidth(), WorldView->SurfaceHeight());
  canvas.Release();
}

void TMain::DrawFood() {
  TSurface& surface = WorldView->Surface();
  const TSprite& food = ObjectImages.Items()[FoodPicture];
  for (int32_t i = 0; i < World.FoodCount; ++i) {
    const int px = Round(World.Food[i].X - 4.5L);
    const int py = Round(World.Food[i].Y - 4.5L);
    food.Draw(surface, px, py, 0);
    if (i != World.SelectedBugFood) continue;
    // The nearest pellet pulses: the inner ring every other frame, the outer one in two sizes.
    TSurfaceCanvas& canvas = surface.Canvas();
    canvas.Brush.SetStyle(bsClear);
    canvas.Pen.SetColor(NearestFoodRingColor);
    if (World.TimeToLive % 2 == 0) canvas.Ellipse(px - 1, py - 1, px + 10, py + 10);
    if (World.TimeToLive % 3 == 0)
      canvas.Ellipse(px - 2, py - 2, px + 11, py + 11);
    else
      canvas.Ellipse(px - 3, py - 3, px + 12, py + 12);
    canvas.Release();
  }
}

void TMain::DrawCreatures() {
  TSurface& surface = WorldView->Surface();
  const TSprite& creature = ObjectImages.Items()[CreaturePicture];
  for (int32_t i = 0; i < World.BugCount; ++i) {
    const TCreature& bug = World.Creatures[i];
    const int bx = Round(bug.X);
    const int by = Round(bug.Y);
    const int angle = DegTo256(Round(RadToDeg(bug.Heading) - 180));
    creature.DrawRotate(surface, bx, by, 9, 9, 0, 0.5, 0.5, angle);
    if (i != World.SelectedBug) continue;
    TSurfaceCanvas& canvas = surface.Canvas();
    struct ReleaseOnExit {
      TSurfaceCanvas& canvas;
      ~ReleaseOnExit() { canvas.Release(); }
    } release{canvas};
    canvas.Brush.SetStyle(bsClear);
    const bool blink = World.TimeToLive % 2 != 0 && World.TimeToLive % 3 != 0;
    canvas.Pen.SetColor(blink ? RingBlinkColor : RingColor);
    canvas.Ellipse(bx - 7, by - 7, bx + 7, by + 7);
    canvas.Ellipse(bx - 8, by - 8, bx + 8, by + 8);
  }
}

void TMain::DrawWorldStats() {
  TSurfaceCanvas& canvas = WorldView->Surface().Canvas();
  const int H = WorldView->SurfaceHeight();
  canvas.Brush.SetStyle(bsClear);
  DrawOutlinedText(canvas, 1, 1, StatsTextColor, StatsOutlineColor,
                   QStringLiteral("Generation %1").arg(World.Generation));
  DrawOutlinedText(canvas, 1, 14, StatsTextColor, StatsOutlineColor,
                   QStringLiteral("Time To Live %1").arg(World.TimeToLive));
  DrawOutlinedText(canvas, 1, H - 14, StatsTextColor, StatsOutlineColor,
                   QStringLiteral("Average Fitness of Last Generation: ") +
                       ForPerson(FormatFixed(World.AverageFitness, 2, 2)));
  DrawOutlinedText(canvas, 1, H - 28, StatsTextColor, StatsOutlineColor,
                   QStringLiteral("Total Fitness: %1").arg(World.TotalFitness));
  canvas.Release();
}

void TMain::BlankWorldView() {
  TSurfaceCanvas& canvas = WorldView->Surface().Canvas();
  canvas.Brush.SetColor(clBlack);
  canvas.Pen.SetColor(clMaroon);
  canvas.Rectangle(0, 0, WorldView->SurfaceWidth(), WorldView->SurfaceHeight());
  canvas.Release();
  WorldView->Flip();
}

}  // namespace zemlix
