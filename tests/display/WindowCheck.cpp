// Shows a real window under an X server (run by xvfb-run), draws on a view, and reads
// the screen back: the view shows its last Flip, also after being covered.
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include "display/Surfaces.h"

namespace {

QImage ScreenArea(const QRect& area) {
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

// Processes events until the check passes or two seconds have gone by.
bool Eventually(const std::function<bool()>& check) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 2000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (check()) return true;
  }
  return false;
}

int failures = 0;
void Expect(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  using namespace zemlix;

  QWidget window;
  window.setGeometry(50, 40, 120, 100);
  auto* view = new TSurfaceView(&window);
  view->setGeometry(10, 10, 60, 50);
  Expect(!view->CanDraw(), "not drawable before the window is shown");
  window.show();
  Expect(view->CanDraw(), "drawable once shown");

  const auto viewOnScreen = [&] { return QRect(view->mapToGlobal(QPoint(0, 0)), view->size()); };
  const auto allPixels = [](const QImage& image, QRgb color) {
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if ((image.pixel(x, y) | 0xFF000000u) != color) return false;
      }
    }
    return true;
  };
  Expect(Eventually([&] { return allPixels(ScreenArea(viewOnScreen()), 0xFF000000u); }), "black after initialising");

  TSurface& surface = view->Surface();
  surface.Fill(0);
  TSurfaceCanvas& canvas = surface.Canvas();
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetColor(clBlue);
  canvas.Rectangle(0, 0, 60, 50);
  canvas.Release();
  view->Flip();
  const auto drawingShown = [&] {
    const QImage shown = ScreenArea(viewOnScreen());
    return !shown.isNull() && shown.pixel(0, 0) == 0xFFFF0000u && shown.pixel(59, 49) == 0xFFFF0000u &&
           shown.pixel(30, 25) == 0xFF0000FFu;
  };
  Expect(Eventually(drawingShown), "the flipped drawing is on screen");

  // Cover the view with another window, then uncover it.
  surface.Fill(0x00FF00);  // drawn but never flipped: must not show
  {
    QWidget cover;
    cover.setGeometry(viewOnScreen().adjusted(-5, -5, 5, 5));
    cover.setAutoFillBackground(true);
    cover.setPalette(QPalette(Qt::white));
    cover.show();
    Expect(Eventually([&] { return allPixels(ScreenArea(viewOnScreen()), 0xFFFFFFFFu); }), "covered");
  }
  Expect(Eventually(drawingShown), "the last flip comes back after uncovering");

  std::printf(failures == 0 ? "window check passed\n" : "window check failed\n");
  return failures == 0 ? 0 : 1;
}
