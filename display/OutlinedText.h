#pragma once

#include <cstdint>
#include <span>
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
// layout puts them, from shapes made once per character. The text up to its last space and
// the rest are composed apart, so a line whose number changes every frame composes only the
// number again.
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
  struct TPlaced {
    const TShape* Shape;
    int Pen;
  };
  // Both layers of some placed glyphs, relative to the text cell's top-left corner.
  struct TLayers {
    std::vector<TSpan> Outline, Ink;
    QRect Box;  // holds both layers, empty without ink
    // The head's layers again as a picture cut into rows of 16 pixels, relative to Box's
    // top-left corner, for drawings wholly inside a surface with masked row stores: a line of
    // text is a few hundred glyph spans but a few dozen such rows.
    std::vector<TMaskedRow> MaskedRows;
    std::vector<std::uint32_t> RowPixels;  // 16 words a masked row
  };
  // Merges the glyphs' layers row by row into `layers`.
  void Compose(std::span<const TPlaced> glyphs, TLayers& layers);
  // Makes the layers' masked rows in the colours set.
  void MakeMaskedRows(TLayers& layers);

  bool made_ = false;
  QString text_;
  TColor textColor_ = clNone;
  TColor outlineColor_ = clNone;
  std::uint32_t textPixel_ = 0, outlinePixel_ = 0;
  bool drawsInk_ = false, drawsOutline_ = false;
  QString headText_;  // the text up to and with its last space, which head_ shows
  TLayers head_, tail_;
  QRect box_;  // both parts' boxes
  std::unordered_map<char32_t, TShape> shapes_;
  // Reused while setting.
  std::vector<char32_t> characters_;
  std::vector<TPlaced> placed_;
  std::vector<std::vector<TSpan>> outlineRows_, inkRows_;
  std::vector<std::uint32_t> canvas_;  // the box's words while the masked rows are made; 0: not set
};

}  // namespace zemlix
