// Draws the three sprites at sixteen angles, 1:1 and scaled up, and saves the picture
// as a PNG (first argument, default sprites.png) to look at by eye.
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include "display/SpriteList.h"
#include "display/Surfaces.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const char* output = argc > 1 ? argv[1] : "sprites.png";

  using namespace zemlix;
  QWidget window;
  auto* view = new TSurfaceView(&window);
  view->resize(16 * 36 + 8, 3 * 70 + 8);
  TSpriteList sprites;
  LoadStandardSprites(sprites.Items());
  sprites.SetView(view);
  window.show();  // the view initialises and the sprites get their surfaces
  if (!view->CanDraw()) {
    std::fprintf(stderr, "view did not initialise\n");
    return 1;
  }

  TSurface& surface = view->Surface();
  surface.Fill(0x404040);
  for (int index = 0; index < 3; ++index) {
    for (int step = 0; step < 16; ++step) {
      const int angle = step * 16;
      const int x = 4 + step * 36 + 18;
      sprites.Items()[index].DrawRotate(surface, x, 4 + index * 70 + 8, 9, 9, 0, 0.5, 0.5, angle);
      sprites.Items()[index].DrawRotate(surface, x, 4 + index * 70 + 42, 27, 27, 0, 0.5, 0.5, angle);
    }
  }
  TSurfaceCanvas& canvas = surface.Canvas();
  canvas.Brush.SetStyle(bsClear);
  canvas.Font.SetColor(clYellow);
  for (int index = 0; index < 3; ++index) {
    canvas.TextOut(4, 4 + index * 70 + 56, QString::fromStdString(sprites.Items()[index].Name()));
  }
  canvas.Release();
  view->Flip();

  const QImage image = surface.ToImage();
  if (!image.scaled(image.size() * 3).save(output)) {
    std::fprintf(stderr, "cannot write %s\n", output);
    return 1;
  }
  std::printf("wrote %s\n", output);
  return 0;
}
