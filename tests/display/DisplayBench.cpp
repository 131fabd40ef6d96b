// Timings of the world view's drawing: 200 rotated bugs and 100 pellets on 400 x 400,
// one Fill, and a whole frame as the window draws it. Prints medians.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include <QApplication>
#include <QWidget>

#include "display/SpriteList.h"
#include "display/Surfaces.h"

namespace {

double MedianMicroseconds(int repetitions, const std::function<void()>& work) {
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(repetitions));
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto stop = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::nth_element(samples.begin(), samples.begin() + repetitions / 2, samples.end());
  return samples[static_cast<std::size_t>(repetitions / 2)];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  using namespace zemlix;
  QWidget window;
  auto* view = new TSurfaceView(&window);
  view->resize(400, 400);
  TSpriteList sprites;
  LoadStandardSprites(sprites.Items());
  sprites.SetView(view);
  window.show();
  TSurface& surface = view->Surface();

  struct Placement {
    int x, y, angle;
  };
  std::vector<Placement> bugs, food;
  std::uint32_t seed = 1;
  const auto next = [&seed](int limit) {
    seed = seed * 134775813u + 1u;
    return static_cast<int>((static_cast<std::uint64_t>(seed) * static_cast<std::uint64_t>(limit)) >> 32);
  };
  for (int i = 0; i < 200; ++i) bugs.push_back({next(400), next(400), next(256) - 128});
  for (int i = 0; i < 100; ++i) food.push_back({next(400) - 4, next(400) - 4, 0});

  const auto drawSprites = [&] {
    for (const Placement& pellet : food) sprites.Items()[1].Draw(surface, pellet.x, pellet.y, 0);
    for (const Placement& bug : bugs) {
      sprites.Items()[0].DrawRotate(surface, bug.x, bug.y, 9, 9, 0, 0.5, 0.5, bug.angle);
    }
  };
  const auto frame = [&] {
    surface.Fill(0);
    TSurfaceCanvas& canvas = surface.Canvas();
    canvas.Brush.SetColor(clNone);
    canvas.Pen.SetColor(clRed);
    canvas.Rectangle(0, 0, 400, 400);
    canvas.Release();
    drawSprites();
    canvas.Brush.SetStyle(bsClear);
    canvas.Pen.SetColor(0xFF5555);
    canvas.Ellipse(93, 93, 107, 107);
    canvas.Ellipse(92, 92, 108, 108);
    canvas.Pen.SetColor(0x551155);
    canvas.Ellipse(199, 199, 210, 210);
    canvas.Ellipse(198, 198, 211, 211);
    canvas.Release();
    canvas.Brush.SetStyle(bsClear);
    const char* lines[] = {"Generation 12", "Time To Live 2345", "Total Fitness: 321",
                           "Average Fitness of Last Generation: 1.60"};
    const int rows[] = {1, 14, 372, 386};
    for (int line = 0; line < 4; ++line) {
      const int x = 1, y = rows[line];
      canvas.Font.SetColor(0x002222);
      canvas.TextOut(x - 1, y, lines[line]);
      canvas.TextOut(x + 1, y, lines[line]);
      canvas.TextOut(x, y - 1, lines[line]);
      canvas.TextOut(x, y + 1, lines[line]);
      canvas.Font.SetColor(0x00FFFF);
      canvas.TextOut(x, y, lines[line]);
    }
    canvas.Release();
    view->Flip();
  };

  for (int i = 0; i < 200; ++i) frame();  // warm up caches and the glyph cache
  std::printf("300 sprites (200 DrawRotate + 100 Draw): %8.1f us\n", MedianMicroseconds(2000, drawSprites));
  std::printf("Fill(0) of 400 x 400:                    %8.1f us\n",
              MedianMicroseconds(2000, [&] { surface.Fill(0); }));
  std::printf("whole world frame incl. text and Flip:   %8.1f us\n", MedianMicroseconds(2000, frame));
  return 0;
}
