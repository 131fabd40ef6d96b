#include "display/OutlinedText.h"

#include <algorithm>
#include <climits>

namespace zemlix {
namespace {

// The spans of the marked cells of a width x height grid whose cell (0, 0) is at (left, top).
std::vector<TSpan> SpansOf(const std::vector<std::uint8_t>& marked, int left, int top, int width, int height) {
  std::vector<TSpan> spans;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!marked[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)]) continue;
      if (!spans.empty() && spans.back().Y == top + y && spans.back().X + spans.back().Count == left + x)
        ++spans.back().Count;
      else
        spans.push_back({left + x, top + y, 1});
    }
  }
  return spans;
}

}  // namespace

const TOutlinedText::TShape& TOutlinedText::Shape(const TFont& font, char32_t character) {
  // Every TFont has the same face, so a character's shape never changes.
  const auto known = shapes_.find(character);
  if (known != shapes_.end()) return known->second;
  const TFont::TGlyph& glyph = font.Glyph(character);
  TShape shape;
  if (!glyph.Ink.empty()) {
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (const QPoint& point : glyph.Ink) {
      left = std::min(left, point.x() - 1);
      right = std::max(right, point.x() + 1);
      top = std::min(top, point.y() - 1);
      bottom = std::max(bottom, point.y() + 1);
    }
    const int width = right - left + 1, height = bottom - top + 1;
    std::vector<std::uint8_t> ink(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    std::vector<std::uint8_t> outline(ink.size(), 0);
    const auto at = [&](std::vector<std::uint8_t>& layer, int x, int y) -> std::uint8_t& {
      return layer[static_cast<std::size_t>(y - top) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x - left)];
    };
    for (const QPoint& point : glyph.Ink) {
      at(ink, point.x(), point.y()) = 1;
      at(outline, point.x() - 1, point.y()) = 1;
      at(outline, point.x() + 1, point.y()) = 1;
      at(outline, point.x(), point.y() - 1) = 1;
      at(outline, point.x(), point.y() + 1) = 1;
    }
    shape.Ink = SpansOf(ink, left, top, width, height);
    shape.Outline = SpansOf(outline, left, top, width, height);
  }
  return shapes_.emplace(character, std::move(shape)).first->second;
}

void TOutlinedText::Compose(std::span<const TPlaced> glyphs, TLayers& layers) {
  layers.Outline.clear();
  layers.Ink.clear();
  layers.Box = QRect();
  int top = INT_MAX, bottom = INT_MIN;
  for (const TPlaced& glyph : glyphs) {
    for (const auto* layer : {&glyph.Shape->Outline, &glyph.Shape->Ink}) {
      for (const TSpan& span : *layer) {
        top = std::min(top, span.Y);
        bottom = std::max(bottom, span.Y);
      }
    }
  }
  if (top > bottom) return;
  const auto rowCount = static_cast<std::size_t>(bottom - top + 1);
  for (auto* rows : {&outlineRows_, &inkRows_}) {
    if (rows->size() < rowCount) rows->resize(rowCount);
    for (auto& row : *rows) row.clear();
  }
  const auto add = [&](std::vector<std::vector<TSpan>>& rows, const TSpan& span) {
    std::vector<TSpan>& row = rows[static_cast<std::size_t>(span.Y - top)];
    // Glyphs come left to right, so a span mostly starts inside or right after the last one.
    if (!row.empty() && span.X >= row.back().X && span.X <= row.back().X + row.back().Count) {
      row.back().Count = std::max(row.back().Count, span.X + span.Count - row.back().X);
      return;
    }
    row.push_back(span);
  };
  for (const TPlaced& glyph : glyphs) {
    for (const TSpan& span : glyph.Shape->Outline) add(outlineRows_, {span.X + glyph.Pen, span.Y, span.Count});
    for (const TSpan& span : glyph.Shape->Ink) add(inkRows_, {span.X + glyph.Pen, span.Y, span.Count});
  }
  int left = INT_MAX, right = INT_MIN;
  for (const auto& [rows, layer] : {std::pair{&outlineRows_, &layers.Outline}, std::pair{&inkRows_, &layers.Ink}}) {
    for (std::size_t r = 0; r < rowCount; ++r) {
      for (const TSpan& span : (*rows)[r]) {
        layer->push_back(span);
        left = std::min(left, span.X);
        right = std::max(right, span.X + span.Count - 1);
      }
    }
  }
  layers.Box = QRect(QPoint(left, top), QPoint(right, bottom));
}

void TOutlinedText::Set(const TFont& font, const QString& text, TColor textColor, TColor outlineColor) {
  if (made_ && text == text_ && textColor == textColor_ && outlineColor == outlineColor_) return;
  const bool newColors = !made_ || textColor != textColor_ || outlineColor != outlineColor_;
  made_ = true;
  text_ = text;
  textColor_ = textColor;
  outlineColor_ = outlineColor;
  const auto textPixel = ColorToPixel(textColor);
  const auto outlinePixel = ColorToPixel(outlineColor);
  drawsInk_ = textPixel.has_value();
  drawsOutline_ = outlinePixel.has_value();
  textPixel_ = textPixel.value_or(0);
  outlinePixel_ = outlinePixel.value_or(0);

  // The characters as the layout reads them, to find each placed glyph's shape, and where the
  // head ends.
  characters_.clear();
  qsizetype headLength = 0;
  std::size_t headCharacters = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t character = text[i].unicode();
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      character = QChar::surrogateToUcs4(text[i], text[i + 1]);
      ++i;
    }
    characters_.push_back(character);
    if (character == U' ') {
      headLength = i + 1;
      headCharacters = characters_.size();
    }
  }
  // Every glyph is placed from the whole text's layout; only the inked ones are kept.
  placed_.clear();
  std::size_t next = 0, headGlyphs = 0;
  font.LayOut(text, [&](const TFont::TGlyph& glyph, int pen) {
    const char32_t character = characters_[next++];
    if (glyph.Ink.empty()) return;
    placed_.push_back({&Shape(font, character), pen});
    if (next <= headCharacters) headGlyphs = placed_.size();
  });
  // The head's glyphs are placed the same whatever follows them.
  const QStringView head = QStringView(text).left(headLength);
  if (head != headText_ || newColors) {
    headText_ = head.toString();
    Compose(std::span(placed_).first(headGlyphs), head_);
    MakeMaskedRows(head_);
  }
  Compose(std::span(placed_).subspan(headGlyphs), tail_);
  box_ = head_.Box.isEmpty() ? tail_.Box : tail_.Box.isEmpty() ? head_.Box : head_.Box | tail_.Box;
}

void TOutlinedText::MakeMaskedRows(TLayers& layers) {
  layers.MaskedRows.clear();
  layers.RowPixels.clear();
  const QRect box = layers.Box;
  if (box.isEmpty() || (!drawsInk_ && !drawsOutline_)) return;
  const int width = box.width(), height = box.height();
  canvas_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  // Every word drawn carries the opaque top byte, so 0 marks the pixels left alone.
  const auto paint = [&](const std::vector<TSpan>& spans, std::uint32_t pixel) {
    for (const TSpan& span : spans) {
      std::uint32_t* at = canvas_.data() + static_cast<std::ptrdiff_t>(span.Y - box.top()) * width +
                          (span.X - box.left());
      std::fill_n(at, span.Count, 0xFF000000u | pixel);
    }
  };
  // The same order as Draw's spans: all the outline, then the ink over it.
  if (drawsOutline_) paint(layers.Outline, outlinePixel_);
  if (drawsInk_) paint(layers.Ink, textPixel_);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* row = canvas_.data() + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; x += 16) {
      std::uint32_t mask = 0;
      for (int i = 0; i < 16 && x + i < width; ++i)
        if (row[x + i] != 0) mask |= 1u << i;
      if (mask == 0) continue;
      layers.MaskedRows.push_back({x, y, mask, static_cast<std::uint32_t>(layers.RowPixels.size())});
      for (int i = 0; i < 16; ++i) layers.RowPixels.push_back(x + i < width ? row[x + i] : 0);
    }
  }
}

QRect TOutlinedText::Draw(TSurface& dest, int x, int y, std::vector<TSpan>* written) const {
  if (!dest.HasPixels() || (!drawsInk_ && !drawsOutline_)) return {};
  if (box_.isEmpty()) return {};
  const QRect placed = box_.translated(x, y);
  const QRect drawn = placed & QRect(0, 0, dest.Width(), dest.Height());
  if (drawn.isEmpty()) return {};
  // The head (which seldom changes) as masked rows where it lies wholly inside a surface that
  // has them, the tail (a number that may change every frame, and has few spans) as spans. The
  // layout leaves an empty column after any glyph's ink, so the tail's outline never lies on
  // the head's ink, and the head may go first whole.
  const bool headRows = drawn == placed && dest.MaskedRowStores();
  if (headRows && !head_.MaskedRows.empty()) {
    StoreMaskedRowsAvx512(dest.ScanLine(y + head_.Box.top()) + x + head_.Box.left(), dest.Stride(),
                          head_.MaskedRows.data(), head_.MaskedRows.size(), head_.RowPixels.data());
  }
  // All the outline before any ink, as the five calls would set it.
  if (drawsOutline_) {
    if (!headRows) dest.FillSpans(head_.Outline, outlinePixel_, x, y);
    dest.FillSpans(tail_.Outline, outlinePixel_, x, y);
  }
  if (drawsInk_) {
    if (!headRows) dest.FillSpans(head_.Ink, textPixel_, x, y);
    dest.FillSpans(tail_.Ink, textPixel_, x, y);
  }
  if (written != nullptr) {
    for (const auto* layer : {&head_.Outline, &tail_.Outline, &head_.Ink, &tail_.Ink}) {
      for (const TSpan& span : *layer) written->push_back({span.X + x, span.Y + y, span.Count});
    }
  }
  return drawn;
}

}  // namespace zemlix
