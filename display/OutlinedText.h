#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include <QRect>
#include <QString>

#include "display/Colors.h"
#include "display/Surfaces.h"

namespace zemlix {

// A text with a one-pixel outline, as four TextOut calls in the outline colour (one pixel
// left, right, up and down) and one in the text colour on top would set it with a clear
// brush. A colour of clNone leaves its layer out; system colours are resolved when the text
// is set.
//
// Kept as two one-colour layers of spans: first every pixel next to ink (the outline), then
// the ink over it. Both layers of a text are the unions of its glyphs' own, placed where the
// layout puts them, so a text whose number changes every frame is set again from shapes made
// once per character.
class TOutlinedText {
 public:
  // Sets the text again only if something differs from the last call.
  void Set(const TFont& font, const QString& text, TColor textColor, TColor outlineColor);
  const QString& Text() const { return text_; }
  // Draws with the text cell's top-left corner at (x, y), clipped to dest (no canvas pass may
  // be open on it); returns a rectangle holding every pixel written, and appends spans
  // covering them to `written` when given.
  QRect Draw(TSurface& dest, int x, int y, std::vector<TSpan>* written = nullptr) const;

 private:
  // A glyph's layers relative to its pen position, row by row.
  struct TShape {
    std::vector<TSpan> Outline, Ink;
  };
  const TShape& Shape(const TFont& font, char32_t character);
  // Adds a span to a layer's row, joined to the row's last span where they touch.
  void AddToRow(std::vector<std::vector<TSpan>>& rows, const TSpan& span);

  bool made_ = false;
  QString text_;
  TColor textColor_ = clNone;
  TColor outlineColor_ = clNone;
  std::uint32_t textPixel_ = 0, outlinePixel_ = 0;
  bool drawsInk_ = false, drawsOutline_ = false;
  std::vector<TSpan> outline_, ink_;  // relative to the text cell's top-left corner
  QRect box_;                         // holds both layers, relative like them
  std::unordered_map<char32_t, TShape> shapes_;
  int rowsTop_ = 0;
  std::vector<std::vector<TSpan>> outlineRows_, inkRows_;  // reused while setting
};

}  // namespace zemlix
