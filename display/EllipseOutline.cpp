#include "display/EllipseOutline.h"

#include <algorithm>
#include <climits>

namespace zemlix {

const TEllipseOutlines::TShape& TEllipseOutlines::Shape(int width, int height, TColor color, std::uint32_t pixel) {
  for (const TShape& shape : shapes_) {
    if (shape.Width == width && shape.Height == height && shape.Pixel == pixel) return shape;
  }
  // Drawn once by the canvas on a scratch surface with room around the box, on a background
  // that differs from the pen.
  constexpr int kMargin = 2;
  TSurface scratch(width + 2 * kMargin, height + 2 * kMargin);
  const std::uint32_t background = ~pixel & 0x00FFFFFFu;
  scratch.Fill(background);
  TSurfaceCanvas& canvas = scratch.Canvas();
  canvas.Brush.SetStyle(bsClear);
  canvas.Pen.SetColor(color);
  canvas.Ellipse(kMargin, kMargin, kMargin + width, kMargin + height);
  canvas.Release();
  TShape shape;
  shape.Width = width;
  shape.Height = height;
  shape.Pixel = pixel;
  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
  for (int y = 0; y < scratch.Height(); ++y) {
    for (int x = 0; x < scratch.Width(); ++x) {
      if (scratch.Pixel(x, y) == background) continue;
      const int dx = x - kMargin, dy = y - kMargin;
      if (!shape.Spans.empty() && shape.Spans.back().Y == dy && shape.Spans.back().X + shape.Spans.back().Count == dx)
        ++shape.Spans.back().Count;
      else
        shape.Spans.push_back({dx, dy, 1});
      left = std::min(left, dx);
      right = std::max(right, dx);
      top = std::min(top, dy);
      bottom = std::max(bottom, dy);
    }
  }
  if (!shape.Spans.empty()) shape.Box = QRect(QPoint(left, top), QPoint(right, bottom));
  shapes_.push_back(std::move(shape));
  return shapes_.back();
}

QRect TEllipseOutlines::Draw(TSurface& dest, int x1, int y1, int x2, int y2, TColor color,
                             std::vector<TSpan>* written) {
  const auto pixel = ColorToPixel(color);
  if (!dest.HasPixels() || !pixel) return {};
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return {};
  const TShape& shape = Shape(x2 - x1, y2 - y1, color, *pixel);
  if (shape.Spans.empty()) return {};
  const QRect drawn = shape.Box.translated(x1, y1) & QRect(0, 0, dest.Width(), dest.Height());
  if (drawn.isEmpty()) return {};
  dest.FillSpans(shape.Spans, *pixel, x1, y1);
  if (written != nullptr) {
    for (const TSpan& span : shape.Spans) written->push_back({span.X + x1, span.Y + y1, span.Count});
  }
  return drawn;
}

}  // namespace zemlix
