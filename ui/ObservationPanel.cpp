#include <QLabel>
#include <cstring>

#include "base/FormatFixed.h"
#include "base/Rounding.h"
#include "ui/MainUnit.h"
#include "ui/UserLocale.h"

namespace zemlix {
namespace {

constexpr TColor GenomeBaselineColor = 0x102020;
constexpr TColor GenomeBarColor = clYellow;
constexpr TColor LiveLetterColor = clYellow;
constexpr TColor ClearedLetterColor = clOlive;

}  // namespace

void TMain::DrawGenomeBaseline(TSurfaceCanvas& canvas, int W, int m, int n) {
  // Before the first Start there are no weights to divide by; the map stays black.
  if (n <= 0) return;
  canvas.Pen.SetColor(GenomeBaselineColor);
  canvas.MoveTo(Round(W * (1.0L / n)), m);
  canvas.LineTo(Round(W * (static_cast<long double>(n) / (n + 1))), m);
}

void TMain::DrawObservation() {
  const int32_t n = World.GenomeLength;
  const TNeuralNet& net = World.Nets[World.SelectedBug];
  TWeightList weights(n);
  net.GetWeights(weights);
  // A label's text and size change only when the number does: relaying it out every frame
  // cost more than drawing the world.
  const QString fitness = QStringLiteral("Fitness = %1").arg(net.Fitness);
  if (FitnessLabel->text() != fitness) {
    FitnessLabel->setText(fitness);
    FitnessLabel->adjustSize();
  }

  // The weights change only between generations or with the selection: the map on the screen
  // is drawn again only then, or when something else has been presented there since.
  const QImage& shown = GenomeMap->Presented();
  if (!shown.isNull() && shown.cacheKey() == genomeShownKey_ && weights.size() == genomeShown_.size() &&
      std::memcmp(weights.data(), genomeShown_.data(), weights.size() * sizeof(double)) == 0)
    return;

  TSurface& surface = GenomeMap->Surface();
  TSurfaceCanvas& canvas = surface.Canvas();
  const int W = GenomeMap->SurfaceWidth();
  const int H = GenomeMap->SurfaceHeight();
  const int m = H / 2;
  const long double half = H / 2.0L;
  surface.Fill(0);
  DrawGenomeBaseline(canvas, W, m, n);
  canvas.Pen.SetColor(GenomeBarColor);
  for (int32_t i = 1; i <= n; ++i) {
    const int x = Round(W * (static_cast<long double>(i) / (n + 1))) - 1;
    canvas.MoveTo(x, m);
    canvas.LineTo(x, Round(half - half * weights[i - 1]));
    canvas.Release();
  }
  canvas.Release();
  GenomeMap->Flip();
  genomeShown_.swap(weights);
  genomeShownKey_ = GenomeMap->Presented().isNull() ? -1 : GenomeMap->Presented().cacheKey();
}

void TMain::DrawMeter(TSurfaceView& meter, double impulse, TColor outline, TColor fill, const char* letter) {
  // Formatting the value costs more than drawing the meter: its tooltip is made when shown.
  const std::size_t which = &meter == LeftImpulseMeter ? 0 : 1;
  meterImpulses_[which] = impulse;
  if (!meter.OnToolTip) {
    meter.OnToolTip = [this, which] {
      return meterImpulses_[which] ? ForPerson(FormatFixed(*meterImpulses_[which], 5, 4)) : QString();
    };
  }
  TSurface& surface = meter.Surface();
  TSurfaceCanvas& canvas = surface.Canvas();
  const int W = meter.SurfaceWidth();
  const int H = meter.SurfaceHeight();
  surface.Fill(0);
  canvas.Pen.SetColor(outline);
  canvas.Brush.SetColor(fill);
  canvas.Brush.SetStyle(bsSolid);
  canvas.Rectangle(0, H - Round(H * static_cast<long double>(impulse)), W, H);
  canvas.Release();
  canvas.Font.SetColor(LiveLetterColor);
  canvas.Brush.SetStyle(bsClear);
  canvas.TextOut(1, 1, letter);
  canvas.Release();
  meter.Flip();
}

void TMain::DrawImpulseMeters(double left, double right) {
  DrawMeter(*LeftImpulseMeter, left, clLime, clGreen, "L");
  DrawMeter(*RightImpulseMeter, right, clRed, clMaroon, "R");
}

void TMain::ClearMeter(TSurfaceView& meter, const char* letter) {
  meterImpulses_[&meter == LeftImpulseMeter ? 0 : 1].reset();
  meter.setToolTip(QString());
  TSurface& surface = meter.Surface();
  TSurfaceCanvas& canvas = surface.Canvas();
  surface.Fill(0);
  canvas.Font.SetColor(ClearedLetterColor);
  // The letter never has a background, whatever brush an earlier meter left (none before
  // the first one: the canvas's white).
  canvas.Brush.SetStyle(bsClear);
  canvas.TextOut(1, 1, letter);
  canvas.Release();
  meter.Flip();
}

void TMain::ClearObservation() {
  TSurface& surface = GenomeMap->Surface();
  TSurfaceCanvas& canvas = surface.Canvas();
  surface.Fill(0);
  DrawGenomeBaseline(canvas, GenomeMap->SurfaceWidth(), GenomeMap->SurfaceHeight() / 2, World.GenomeLength);
  canvas.Release();
  GenomeMap->Flip();
  ClearMeter(*LeftImpulseMeter, "L");
  ClearMeter(*RightImpulseMeter, "R");
}

}  // namespace zemlix
