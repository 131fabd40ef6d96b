#pragma once

#include <cstdint>
#include <vector>

#include <QRect>
#include <QString>

#include "display/Colors.h"
#include "display/SpriteList.h"
#include "display/Surfaces.h"

namespace zemlix {

// A text with a one-pixel outline, as four TextOut calls in the outline colour (one pixel
// left, right, up and down) and one in the text colour on top would set it with a clear
// brush, made once and then copied. A colour of clNone leaves its layer out; system colours
// are resolved when the picture is made.
class TOutlinedText {
 public:
  // Makes the picture again only if something differs from the last call.
  void Set(const TFont& font, const QString& text, TColor textColor, TColor outlineColor);
  const QString& Text() const { return text_; }
  // Draws with the text cell's top-left corner at (x, y), clipped to dest (no canvas pass may
  // be open on it); returns a rectangle holding every pixel written.
  QRect Draw(TSurface& dest, int x, int y) const;

 private:
  using TRun = TPixelRun;  // First: an index into pixels_
  bool made_ = false;
  QString text_;
  TColor textColor_ = clNone;
  TColor outlineColor_ = clNone;
  std::vector<TRun> runs_;
  std::vector<std::uint32_t> pixels_;
};

}  // namespace zemlix
