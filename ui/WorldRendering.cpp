#include "base/Errors.h"
#include "base/FormatFixed.h"
#include "base/Rounding.h"
#include "ui/MainUnit.h"
#include "ui/UserLocale.h"
#include "world/AdvancedMathUnit.h"

#include <QCheckBox>
#include <QLabel>
#include <bit>

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
  // The caption changes about once a second: made, set and sized only then.
  const std::pair<int, int> caption{Timer.FrameRate(), LagCount};
  if (captionShown_ != caption) {
    FPSLabel->setText(QStringLiteral("FPS = %1(%2 Lag)").arg(caption.first).arg(caption.second));
    FPSLabel->adjustSize();
    captionShown_ = caption;
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
  if (WorldViewEnabled->isChecked() && WorldView->CanDraw()) DrawWorldPicture();
  if (ShowStatsBox->isChecked()) DrawObservation();
  if (OnViewsDrawn) OnViewsDrawn();
}

void TMain::DrawWorldPicture() {
  TSurface& surface = WorldView->Surface();
  PlaceFood();
  if (PlainFrames) {
    surface.Fill(0);
    worldSpans_.clear();
    lastWorldSpans_.clear();
    slots_.Clear();
    lastSlots_.Clear();
    border_ = lastBorder_ = {};  // a buffer filled whole needs no mending
    DrawWorldBorder();
  } else {
    // After a swap the buffer holds the picture before the last one; otherwise (it was brought
    // up to date, or the last flip copied) it holds the last one. Either is black but for
    // what it drew.
    const bool swapped = !surface.TakeStale().empty();
    surface.FillSpans(swapped ? lastWorldSpans_ : worldSpans_, 0);
    slotKeys_.clear();
    if (ObjectImages.Items()[FoodPicture].PatternCount() != 0) {
      for (const QPoint& place : foodPlaces_) slotKeys_.push_back(FoodKey(place));
    }
    for (const uint64_t key : StatsKeys()) slotKeys_.push_back(key);
    ClearChangedSlots(surface, swapped ? lastSlots_ : slots_);
    MendWorldBorder(swapped ? lastBorder_ : border_);
    lastWorldSpans_.swap(worldSpans_);
    worldSpans_.clear();
    std::swap(lastSlots_, slots_);
    slots_.Clear();
    std::swap(lastBorder_, border_);
    border_.Drawn = true;
    border_.Width = surface.Width();
    border_.SideRows.clear();
  }
  DrawPlacedFood();
  DrawCreatures();
  DrawWorldStats();
  if (PlainFrames) {
    WorldView->Flip();
    return;
  }
  // The whole picture as where it may differ from the last: the buffer is brought up to date
  // only when something reads it between frames, which a running window never does, and
  // then a copy of the whole costs less than keeping a rectangle per drawing every frame.
  // The screen gets the whole picture too. Repainting only the 16 x 16 tiles that this
  // picture's and the last one's drawings touched measured fewer frames per second under X,
  // with 200 bugs (about 130 rectangles over 58 % of the picture) and with 10: Qt puts each
  // rectangle of a region apart, clipped to all of them, and that costs both sides more than
  // the pixels it saves.
  WorldView->FlipSwapping({QRect(0, 0, surface.Width(), surface.Height())});
}

void TMain::MendWorldBorder(const TBorderDrawings& drawn) {
  if (!drawn.Drawn) {
    DrawWorldBorder();
    return;
  }
  // The buffer has the border but where its picture drew over it, and the clearing has made
  // those pixels black: the top and bottom rows are painted again whole (they are short), the
  // side columns only along the rows that drawings reached.
  TSurface& surface = WorldView->Surface();
  const int W = surface.Width(), H = surface.Height();
  const uint32_t red = *ColorToPixel(clRed);
  const TSpan rows[] = {{0, 0, W}, {0, H - 1, W}};
  surface.FillSpans(rows, red);
  sideSpans_.clear();
  for (const auto& [top, bottom] : drawn.SideRows) {
    for (int y = std::max(top, 1); y <= std::min(bottom, H - 2); ++y) {
      sideSpans_.push_back({0, y, 1});
      sideSpans_.push_back({W - 1, y, 1});
    }
  }
  surface.FillSpans(sideSpans_, red);
}

void TMain::NoteBorderReached(const QRect& drawn) {
  if (!drawn.isEmpty() && (drawn.left() <= 0 || drawn.right() >= border_.Width - 1))
    border_.SideRows.emplace_back(drawn.top(), drawn.bottom());
}

void TMain::ClearChangedSlots(TSurface& surface, const TSlotDrawings& drawn) {
  // Slots are compared only between pictures with the same slots: the same number of pellets.
  const bool sameSlots = drawn.Keys.size() == slotKeys_.size();
  const auto clear = [&](uint32_t from, uint32_t to) {
    if (to > from) surface.FillSpans(std::span(drawn.Spans).subspan(from, to - from), 0);
  };
  // Neighbouring slots to clear are cleared together: the spans from `from` on.
  uint32_t from = 0;
  for (std::size_t slot = 0; slot < drawn.Keys.size(); ++slot) {
    if (!sameSlots || drawn.Keys[slot] != slotKeys_[slot]) continue;
    clear(from, slot == 0 ? 0 : drawn.Ends[slot - 1]);
    from = drawn.Ends[slot];
  }
  clear(from, static_cast<uint32_t>(drawn.Spans.size()));
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
  const int W = WorldView->SurfaceWidth(), H = WorldView->SurfaceHeight();
  canvas.Rectangle(0, 0, W, H);
  canvas.Release();
}

void TMain::PlaceFood() {
  foodPlaces_.clear();
  for (int32_t i = 0; i < World.FoodCount; ++i)
    foodPlaces_.emplace_back(Round(World.Food[i].X - 4.5L), Round(World.Food[i].Y - 4.5L));
}

uint64_t TMain::FoodKey(QPoint place) {
  return uint64_t{static_cast<uint32_t>(place.x())} << 32 | static_cast<uint32_t>(place.y());
}

void TMain::DrawFood() {
  PlaceFood();
  DrawPlacedFood();
}

void TMain::DrawPlacedFood() {
  TSurface& surface = WorldView->Surface();
  TSprite& food = ObjectImages.Items()[FoodPicture];
  food.SetKeepsPictures(!PlainFrames);
  if (food.PatternCount() == 0) return;
  const TSpritePattern& pellet = food.Pattern(0);
  for (int32_t i = 0; i < World.FoodCount; ++i) {
    const int px = foodPlaces_[static_cast<std::size_t>(i)].x();
    const int py = foodPlaces_[static_cast<std::size_t>(i)].y();
    food.Draw(surface, px, py, 0, &slots_.Spans);
    slots_.EndSlot(FoodKey({px, py}));
    NoteBorderReached(QRect(px, py, pellet.Right - pellet.Left, pellet.Bottom - pellet.Top));
    if (i != World.SelectedBugFood) continue;
    // The nearest pellet pulses: the inner ring every other frame, the outer one in two sizes.
    if (!PlainFrames) {
      if (World.TimeToLive % 2 == 0)
        NoteBorderReached(rings_.Draw(surface, px - 1, py - 1, px + 10, py + 10, NearestFoodRingColor, &worldSpans_));
      const int outer = World.TimeToLive % 3 == 0 ? 2 : 3;
      NoteBorderReached(rings_.Draw(surface, px - outer, py - outer, px + 9 + outer, py + 9 + outer,
                                    NearestFoodRingColor, &worldSpans_));
      continue;
    }
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
  TSprite& creature = ObjectImages.Items()[CreaturePicture];
  creature.SetKeepsPictures(!PlainFrames);
  bugPlaces_.clear();
  for (int32_t i = 0; i < World.BugCount; ++i) {
    const TCreature& bug = World.Creatures[i];
    bugPlaces_.push_back({Round(bug.X), Round(bug.Y), DegTo256(Round(RadToDeg(bug.Heading) - 180))});
  }
  // A few bugs ahead, the turned pictures they need are asked for: they are seldom in the cache
  // after a tick.
  constexpr std::size_t kAhead = 4;
  for (std::size_t i = 0; i < std::min(kAhead, bugPlaces_.size()); ++i) creature.PrefetchTurn(bugPlaces_[i].Angle);
  for (int32_t i = 0; i < World.BugCount; ++i) {
    const auto [bx, by, angle] = bugPlaces_[static_cast<std::size_t>(i)];
    if (static_cast<std::size_t>(i) + kAhead < bugPlaces_.size())
      creature.PrefetchTurn(bugPlaces_[static_cast<std::size_t>(i) + kAhead].Angle);
    NoteBorderReached(creature.DrawRotate(surface, bx, by, 9, 9, 0, 0.5, 0.5, angle, &worldSpans_));
    if (i != World.SelectedBug) continue;
    const bool blink = World.TimeToLive % 2 != 0 && World.TimeToLive % 3 != 0;
    if (!PlainFrames) {
      for (const int radius : {7, 8})
        NoteBorderReached(rings_.Draw(surface, bx - radius, by - radius, bx + radius, by + radius,
                                      blink ? RingBlinkColor : RingColor, &worldSpans_));
      continue;
    }
    TSurfaceCanvas& canvas = surface.Canvas();
    struct ReleaseOnExit {
      TSurfaceCanvas& canvas;
      ~ReleaseOnExit() { canvas.Release(); }
    } release{canvas};
    canvas.Brush.SetStyle(bsClear);
    canvas.Pen.SetColor(blink ? RingBlinkColor : RingColor);
    canvas.Ellipse(bx - 7, by - 7, bx + 7, by + 7);
    canvas.Ellipse(bx - 8, by - 8, bx + 8, by + 8);
  }
}

void TMain::DrawWorldStats() {
  TSurface& surface = WorldView->Surface();
  TSurfaceCanvas& canvas = surface.Canvas();
  const int H = WorldView->SurfaceHeight();
  canvas.Brush.SetStyle(bsClear);
  const auto averageText = [&] {
    return QStringLiteral("Average Fitness of Last Generation: ") + ForPerson(FormatFixed(World.AverageFitness, 2, 2));
  };
  if (PlainFrames) {
    DrawOutlinedText(canvas, 1, 1, StatsTextColor, StatsOutlineColor,
                     QStringLiteral("Generation %1").arg(World.Generation));
    DrawOutlinedText(canvas, 1, 14, StatsTextColor, StatsOutlineColor,
                     QStringLiteral("Time To Live %1").arg(World.TimeToLive));
    DrawOutlinedText(canvas, 1, H - 14, StatsTextColor, StatsOutlineColor, averageText());
    DrawOutlinedText(canvas, 1, H - 28, StatsTextColor, StatsOutlineColor,
                     QStringLiteral("Total Fitness: %1").arg(World.TotalFitness));
    canvas.Release();
    return;
  }
  // A line's text is formatted and laid out again only when its number changes.
  const auto line = [&](std::size_t slot, uint64_t key, int y, const auto& text) {
    if (statsKeys_[slot] != key) {
      statsTexts_[slot].Set(canvas.Font, text(), StatsTextColor, StatsOutlineColor);
      statsKeys_[slot] = key;
    }
    // Cleared as the rows of its box: a few long spans cost less to keep and to clear than the
    // glyphs' hundreds of short ones, and clearing more than was drawn is harmless, since
    // every picture draws all it shows anew (the border after the clearing).
    const QRect drawn = statsTexts_[slot].Draw(surface, 1, y);
    AppendSpans(slots_.Spans, drawn);
    slots_.EndSlot(key);
    NoteBorderReached(drawn);
  };
  const std::array<uint64_t, 4> keys = StatsKeys();
  line(0, keys[0], 1, [&] { return QStringLiteral("Generation %1").arg(World.Generation); });
  line(1, keys[1], 14, [&] { return QStringLiteral("Time To Live %1").arg(World.TimeToLive); });
  line(2, keys[2], H - 14, averageText);
  line(3, keys[3], H - 28, [&] { return QStringLiteral("Total Fitness: %1").arg(World.TotalFitness); });
}

std::array<uint64_t, 4> TMain::StatsKeys() const {
  return {static_cast<uint64_t>(World.Generation), static_cast<uint64_t>(World.TimeToLive),
          std::bit_cast<uint64_t>(World.AverageFitness), static_cast<uint64_t>(World.TotalFitness)};
}

void TMain::BlankWorldView() {
  TSurfaceCanvas& canvas = WorldView->Surface().Canvas();
  canvas.Brush.SetColor(clBlack);
  canvas.Pen.SetColor(clMaroon);
  canvas.Rectangle(0, 0, WorldView->SurfaceWidth(), WorldView->SurfaceHeight());
  canvas.Release();
  WorldView->Flip();
  worldSpans_.clear();
  AppendSpans(worldSpans_, QRect(0, 0, WorldView->SurfaceWidth(), WorldView->SurfaceHeight()));
  slots_.Clear();
  border_ = {};  // a maroon one
}

}  // namespace zemlix
