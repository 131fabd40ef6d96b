#pragma once

#include <cstdint>
#include <vector>

#include <QRect>

#include "display/Colors.h"
#include "display/Surfaces.h"

namespace zemlix {

// Ellipse outlines as TSurfaceCanvas::Ellipse draws them with a clear brush, kept as spans per
// box size and colour: an outline does not depend on where its box lands, and drawing the kept
// spans costs no painter pass.
class TEllipseOutlines {
 public:
  // Draws the outline of the ellipse inscribed in columns x1..x2-1 and rows y1..y2-1 in color,
  // clipped to dest (no canvas pass may be open on it). Returns a rectangle holding every pixel
  // written, and appends spans covering them to `written` when given.
  QRect Draw(TSurface& dest, int x1, int y1, int x2, int y2, TColor color, std::vector<TSpan>* written = nullptr);

 private:
  struct TShape {
    int Width = 0, Height = 0;
    std::uint32_t Pixel = 0;
    std::vector<TSpan> Spans;  // relative to the box's top-left corner
    QRect Box;                 // holds the spans, relative like them
  };
  const TShape& Shape(int width, int height, TColor color, std::uint32_t pixel);

  std::vector<TShape> shapes_;
};

}  // namespace zemlix
