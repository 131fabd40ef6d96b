#include "display/OutlinedText.h"

#include <algorithm>
#include <climits>

namespace zemlix {

void TOutlinedText::Set(const TFont& font, const QString& text, TColor textColor, TColor outlineColor) {
  if (made_ && text == text_ && textColor == textColor_ && outlineColor == outlineColor_) return;
  made_ = true;
  text_ = text;
  textColor_ = textColor;
  outlineColor_ = outlineColor;
  runs_.clear();
  pixels_.clear();

  std::vector<QPoint> ink;
  font.LayOut(text, [&](const TFont::TGlyph& glyph, int pen) {
    for (const QPoint& point : glyph.Ink) ink.emplace_back(pen + point.x(), point.y());
  });
  if (ink.empty()) return;
  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
  for (const QPoint& point : ink) {
    left = std::min(left, point.x());
    right = std::max(right, point.x());
    top = std::min(top, point.y());
    bottom = std::max(bottom, point.y());
  }
  // One pixel of room on every side for the outline.
  left -= 1;
  top -= 1;
  const int width = right - left + 2;
  const int height = bottom - top + 2;
  enum : std::uint8_t { kEmpty, kOutline, kInk };
  std::vector<std::uint8_t> layer(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kEmpty);
  const auto at = [&](int x, int y) -> std::uint8_t& {
    return layer[static_cast<std::size_t>(y - top) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x - left)];
  };
  if (ColorToPixel(outlineColor)) {
    for (const QPoint& point : ink) {
      at(point.x() - 1, point.y()) = kOutline;
      at(point.x() + 1, point.y()) = kOutline;
      at(point.x(), point.y() - 1) = kOutline;
      at(point.x(), point.y() + 1) = kOutline;
    }
  }
  if (ColorToPixel(textColor)) {
    for (const QPoint& point : ink) at(point.x(), point.y()) = kInk;
  }
  const std::uint32_t textPixel = ColorToPixel(textColor).value_or(0);
  const std::uint32_t outlinePixel = ColorToPixel(outlineColor).value_or(0);
  for (int y = top; y < top + height; ++y) {
    bool inRun = false;
    for (int x = left; x < left + width; ++x) {
      const std::uint8_t kind = at(x, y);
      if (kind == kEmpty) {
        inRun = false;
        continue;
      }
      if (!inRun) runs_.push_back({x, y, 0, static_cast<std::uint32_t>(pixels_.size())});
      inRun = true;
      ++runs_.back().Count;
      pixels_.push_back(kind == kInk ? textPixel : outlinePixel);
    }
  }
}

QRect TOutlinedText::Draw(TSurface& dest, int x, int y) const {
  if (!dest.HasPixels()) return {};
  return CopyClippedRuns(dest, x, y, runs_, pixels_.data());
}

}  // namespace zemlix
