#include "display/SpriteList.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <exception>
#include <optional>

#include "display/HandlerErrors.h"
#include "display/Resources.h"

namespace zemlix {

namespace {

constexpr std::int64_t kOne = 65536;  // 1.0 in 16.16 fixed point
constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Copies a short run of pixels with whole 16-byte moves that may overlap, rather than a loop
// that first lines up and then mops up: a sprite's runs are a few pixels. (Written out, since
// a loop of them is turned into a call to memmove.)
inline void CopyShort(std::uint32_t* __restrict to, const std::uint32_t* __restrict from, std::int64_t count) {
#if defined(__SSE2__)
  const auto move = [&](std::int64_t at) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at)));
  };
  if (count >= 4 && count <= 16) {
    move(0);
    if (count > 8) {
      move(4);
      move(count - 8);
    }
    move(count - 4);
    return;
  }
#endif
  switch (count) {
    case 3: to[2] = from[2]; [[fallthrough]];
    case 2: to[1] = from[1]; [[fallthrough]];
    case 1: to[0] = from[0]; [[fallthrough]];
    case 0: return;
    default: std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof *to);
  }
}

// Argument ranges beyond which DrawRotate draws nothing. They keep every 16.16
// intermediate far inside 64 bits; no real sprite comes near them.
constexpr std::int64_t kMaxPosition = 1 << 24;
constexpr std::int64_t kMaxScaledSize = 1 << 16;
constexpr std::int64_t kMaxPatternCoordinate = 1 << 15;  // what 16.16 can address
constexpr int kMaxDestinationSize = 1 << 20;
// A double: the check runs on every drawing, and both types hold it and any centre exactly.
constexpr double kMaxCenter = 1 << 16;

// cos(k * 2 pi / 256), evaluated in extended precision and stored as doubles.
const std::array<double, 256>& CosineTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> values{};
    for (int k = 0; k < 256; ++k) {
      values[static_cast<std::size_t>(k)] =
          static_cast<double>(std::cos(static_cast<long double>(k) * 2.0L * kPi / 256.0L));
    }
    return values;
  }();
  return table;
}

// Angles count 256 steps per turn; only the angle mod 256 matters.
double Cos256(int angle) { return CosineTable()[static_cast<std::size_t>(angle & 255)]; }
double Sin256(int angle) { return Cos256((angle & 255) + 192); }
// -angle mod 256, without overflowing at INT_MIN.
int NegatedAngle(int angle) { return static_cast<int>((0u - static_cast<unsigned>(angle)) & 255u); }

// Truncation towards zero that refuses values a 64-bit integer cannot hold. Called only when
// a turn is not cached yet, never per pixel.
std::optional<std::int64_t> Trunc(long double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 0x1p62L) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

}  // namespace

// ---------------------------------------------------------------------------------
// TSprite

TSprite::TSprite(TSpriteCollection& collection) : collection_(collection) {}

void TSprite::SetPatternHeight(int value) {
  patternHeight_ = value;
  RemakeIfInitialized();
}

void TSprite::SetPatternWidth(int value) {
  patternWidth_ = value;
  RemakeIfInitialized();
}

void TSprite::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  RemakeIfInitialized();
}

void TSprite::SetSkipHeight(int value) {
  skipHeight_ = value;
  RemakeIfInitialized();
}

void TSprite::SetSkipWidth(int value) {
  skipWidth_ = value;
  RemakeIfInitialized();
}

void TSprite::SetTransparentColor(TColor color) {
  transparentColor_ = color;
  for (const auto& surface : surfaces_) surface->SetColorKey(TSurface::ColorMatch(color));
  ++picturesVersion_;
}

void TSprite::RemakeIfInitialized() {
  if (collection_.Initialized()) Restore();
}

const TSpritePattern& TSprite::Pattern(int index) const {
  if (index < 0 || index >= PatternCount()) {
    char message[64];
    std::snprintf(message, sizeof message, "List index out of bounds (%d)", index);
    throw EListError(message);
  }
  return patterns_[static_cast<std::size_t>(index)];
}

void TSprite::Initialize() {
  patterns_.clear();
  surfaces_.clear();
  ++picturesVersion_;
  initialized_ = true;
}

void TSprite::Finalize() {
  patterns_.clear();
  surfaces_.clear();
  ++picturesVersion_;
  initialized_ = false;
}

void TSprite::Restore() {
  if (picture_.isNull()) return;
  if (!initialized_ && collection_.Initialized()) Initialize();
  if (!initialized_) return;
  patterns_.clear();
  surfaces_.clear();
  ++picturesVersion_;

  const int pictureWidth = picture_.width();
  const int pictureHeight = picture_.height();
  const int patternWidth = patternWidth_ > 0 ? patternWidth_ : pictureWidth;
  const int patternHeight = patternHeight_ > 0 ? patternHeight_ : pictureHeight;

  // One surface holds the whole picture, converted once to the surface's format.
  // (Large pictures are not split over several surfaces: nothing here needs it.)
  auto surface = std::make_unique<TSurface>();
  if (!surface->Allocate(pictureWidth, pictureHeight)) return;
  const QImage converted = picture_.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < pictureHeight; ++y) {
    const auto* from = reinterpret_cast<const std::uint32_t*>(converted.constScanLine(y));
    std::uint32_t* to = surface->ScanLine(y);
    for (int x = 0; x < pictureWidth; ++x) to[x] = 0xFF000000u | from[x];
  }
  surface->SetColorKey(TSurface::ColorMatch(transparentColor_));

  if (patternWidth == pictureWidth && patternHeight == pictureHeight) {
    patterns_.push_back({0, 0, pictureWidth, pictureHeight, surface.get()});
  } else {
    const int cellWidth = patternWidth + skipWidth_;
    const int cellHeight = patternHeight + skipHeight_;
    if (cellWidth > 0 && cellHeight > 0) {
      const int columns = (pictureWidth + skipWidth_) / cellWidth;
      const int rows = (pictureHeight + skipHeight_) / cellHeight;
      for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
          const int left = column * cellWidth;
          const int top = row * cellHeight;
          patterns_.push_back({left, top, left + patternWidth, top + patternHeight, surface.get()});
        }
      }
    }
  }
  surfaces_.push_back(std::move(surface));
}

void TSprite::Draw(TSurface& dest, int x, int y, int patternIndex, std::vector<TSpan>* written) const {
  if (!initialized_ || patternIndex < 0 || patternIndex >= PatternCount()) return;
  const TSpritePattern& pattern = patterns_[static_cast<std::size_t>(patternIndex)];
  if (pattern.Surface == nullptr) return;
  const auto& key = pattern.Surface->ColorKey();
  if (!keepsPictures_ || !transparent_ || !key) {
    dest.CopyRect(x, y, *pattern.Surface, pattern.Left, pattern.Top, pattern.Right, pattern.Bottom, transparent_);
    if (written != nullptr) {
      const std::int64_t left = std::max<std::int64_t>(x, 0), top = std::max<std::int64_t>(y, 0);
      const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + pattern.Right - pattern.Left, dest.Width());
      const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + pattern.Bottom - pattern.Top, dest.Height());
      if (left < right && top < bottom)
        AppendSpans(*written, QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                                    static_cast<int>(bottom - top)));
    }
    return;
  }
  if (keptPatterns_.size() != patterns_.size()) keptPatterns_.assign(patterns_.size(), {});
  TKeptPattern& kept = keptPatterns_[static_cast<std::size_t>(patternIndex)];
  if (kept.Version != picturesVersion_) {
    kept.Picture.Clear();
    const std::uint32_t skipped = 0xFF000000u | *key;
    for (int row = pattern.Top; row < pattern.Bottom; ++row) {
      const std::uint32_t* line = pattern.Surface->ScanLine(row);
      bool inRun = false;
      for (int column = pattern.Left; column < pattern.Right; ++column) {
        const bool opaque = line[column] != skipped;
        if (opaque) kept.Picture.Add(column - pattern.Left, row - pattern.Top, line[column], !inRun);
        inRun = opaque;
      }
    }
    kept.Picture.MakeMaskedRows();
    kept.Version = picturesVersion_;
  }
  CopyRuns(dest, x, y, kept.Picture, written);
}

void TSprite::TKeptPixels::Add(int dx, int dy, std::uint32_t pixel, bool newRun) {
  if (newRun) Runs.push_back({dx, dy, 0, static_cast<std::uint32_t>(Pixels.size())});
  ++Runs.back().Count;
  Pixels.push_back(pixel);
  if (Rows.empty() || Rows.back().Y != dy)
    Rows.push_back({dx, dy, 1});
  else
    Rows.back().Count = dx - Rows.back().X + 1;
  if (Right < Left) {
    Left = Right = dx;
    Top = Bottom = dy;
  }
  Left = std::min(Left, dx);
  Right = std::max(Right, dx);
  Top = std::min(Top, dy);
  Bottom = std::max(Bottom, dy);
}

QRect CopyClippedRuns(TSurface& dest, int x, int y, std::span<const TPixelRun> runs, const std::uint32_t* pixels) {
  std::int64_t minX = INT64_MAX, maxX = INT64_MIN, minY = INT64_MAX, maxY = INT64_MIN;
  for (const TPixelRun& run : runs) {
    const std::int64_t row = std::int64_t{y} + run.Dy;
    if (row < 0 || row >= dest.Height()) continue;
    const std::int64_t start = std::int64_t{x} + run.Dx;
    const std::int64_t from = std::max<std::int64_t>(start, 0);
    const std::int64_t to = std::min<std::int64_t>(start + run.Count, dest.Width());
    if (from >= to) continue;
    const std::uint32_t* __restrict source = pixels + run.First + (from - start);
    std::uint32_t* __restrict line = dest.ScanLine(static_cast<int>(row));
    CopyShort(line + from, source, to - from);
    minX = std::min(minX, from);
    maxX = std::max(maxX, to - 1);
    minY = std::min(minY, row);
    maxY = std::max(maxY, row);
  }
  if (minX > maxX) return {};
  return QRect(QPoint(static_cast<int>(minX), static_cast<int>(minY)),
               QPoint(static_cast<int>(maxX), static_cast<int>(maxY)));
}

void TSprite::TKeptPixels::MakeMaskedRows() {
  MaskedRows.clear();
  RowPixels.clear();
  if (Runs.empty() || Right - Left + 1 > 16) return;
  std::size_t row = 0;
  for (const TRun& run : Runs) {
    while (Rows[row].Y != run.Dy) ++row;
    if (MaskedRows.empty() || MaskedRows.back().Dy != run.Dy - Top) {
      // Only the row's own words: a row's 16-word load may run on into the next rows' words,
      // which its mask leaves out.
      MaskedRows.push_back({Rows[row].X - Left, run.Dy - Top, 0, static_cast<std::uint32_t>(RowPixels.size())});
      RowPixels.resize(RowPixels.size() + static_cast<std::size_t>(Rows[row].Count), 0);
    }
    TMaskedRow& masked = MaskedRows.back();
    for (int i = 0; i < run.Count; ++i) {
      const int lane = run.Dx - Left - masked.Dx + i;
      masked.Mask |= 1u << lane;
      RowPixels[masked.First + static_cast<std::size_t>(lane)] = Pixels[run.First + static_cast<std::size_t>(i)];
    }
  }
  // The last row's load stays within the words.
  RowPixels.resize(RowPixels.size() + 15, 0);
}

// Copies runs with (x, y) as their origin, clipped to dest; returns a rectangle holding every
// pixel written.
QRect TSprite::CopyRuns(TSurface& dest, int x, int y, const TKeptPixels& kept, std::vector<TSpan>* written) {
  if (kept.Runs.empty()) return {};
  const std::int64_t width = dest.Width(), height = dest.Height();
  const std::int64_t left = std::int64_t{x} + kept.Left, right = std::int64_t{x} + kept.Right;
  const std::int64_t top = std::int64_t{y} + kept.Top, bottom = std::int64_t{y} + kept.Bottom;
  if (right < 0 || bottom < 0 || left >= width || top >= height) return {};
  if (left >= 0 && top >= 0 && right < width && bottom < height) {
    // Wholly inside, as nearly every drawing is: no clipping per run.
    std::uint32_t* firstLine = dest.ScanLine(static_cast<int>(top));
    const std::ptrdiff_t stride = dest.Stride();
    if (dest.MaskedRowStores() && !kept.MaskedRows.empty()) {
      StoreMaskedRowsAvx512(firstLine + left, stride, kept.MaskedRows.data(), kept.MaskedRows.size(),
                            kept.RowPixels.data());
    } else {
      for (const TRun& run : kept.Runs)
        CopyShort(firstLine + (run.Dy - kept.Top) * stride + (x + run.Dx), kept.Pixels.data() + run.First, run.Count);
    }
    if (written != nullptr) {
      const std::size_t at = written->size();
      written->resize(at + kept.Rows.size());
      TSpan* __restrict out = written->data() + at;
      for (const TSpan& row : kept.Rows) *out++ = {x + row.X, y + row.Y, row.Count};
    }
    return QRect(QPoint(static_cast<int>(left), static_cast<int>(top)),
                 QPoint(static_cast<int>(right), static_cast<int>(bottom)));
  }
  const QRect drawn = CopyClippedRuns(dest, x, y, kept.Runs, kept.Pixels.data());
  if (written != nullptr) AppendSpans(*written, drawn);
  return drawn;
}

// Where a row that starts at (u, v) in the source (16.16) enters the pattern and how many
// pixels it stays inside, before the destination's right edge is applied.
TSprite::TRowSpan TSprite::RowSpan(std::int64_t u, std::int64_t v, std::int64_t dux, std::int64_t dvx,
                                   std::int64_t leftEdge, std::int64_t rightEdge, std::int64_t topEdge,
                                   std::int64_t bottomEdge) {
  TRowSpan span;
  // A zero step whose start lies outside the pattern would stay outside: no pixels.
  if ((dux == 0 && (u < leftEdge || u >= rightEdge)) || (dvx == 0 && (v < topEdge || v >= bottomEdge))) return span;
  // Skip the columns before the source is entered.
  std::int64_t skip = 0;
  if (dux > 0 && u < leftEdge) skip = (leftEdge - u + dux - 1) / dux;
  if (dux < 0 && u >= rightEdge) skip = (rightEdge - u + dux) / dux;
  if (dvx > 0 && v < topEdge) skip = std::max(skip, (topEdge - v + dvx - 1) / dvx);
  if (dvx < 0 && v >= bottomEdge) skip = std::max(skip, (bottomEdge - v + dvx) / dvx);
  span.Draws = true;
  span.Skip = skip;
  span.U = u + skip * dux;
  span.V = v + skip * dvx;
  span.Count = dux >= 0 ? (rightEdge - span.U) / std::max<std::int64_t>(dux, 1) : (span.U - leftEdge) / -dux;
  span.Count =
      std::min(span.Count, dvx >= 0 ? (bottomEdge - span.V) / std::max<std::int64_t>(dvx, 1) : (span.V - topEdge) / -dvx);
  return span;
}

// Everything of a turned drawing that does not depend on where it lands: its bounding box
// relative to (x, y) and its steps through the source. Cached by angle, since a list draws
// the same sprite at the same size many times per frame.
TSprite::TTurn& TSprite::Turn(int width, int height, double centerX, double centerY, int angle,
                                    std::int64_t sourceWidth, std::int64_t sourceHeight) const {
  // Only the angle modulo 256 matters, so angles that differ by whole turns share an entry.
  TTurn& turn = turns_[static_cast<std::size_t>(angle & 255)];
  if (turn.Known && turn.Width == width && turn.Height == height &&
      std::bit_cast<std::uint64_t>(turn.CenterX) == std::bit_cast<std::uint64_t>(centerX) &&
      std::bit_cast<std::uint64_t>(turn.CenterY) == std::bit_cast<std::uint64_t>(centerY) &&
      turn.SourceWidth == sourceWidth && turn.SourceHeight == sourceHeight)
    return turn;
  turn = TTurn{};
  turn.Known = true;
  turn.Width = width;
  turn.Height = height;
  turn.CenterX = centerX;
  turn.CenterY = centerY;
  turn.SourceWidth = sourceWidth;
  turn.SourceHeight = sourceHeight;

  // Bounding box of the turned Width x Height box, in extended precision.
  const long double cosine = Cos256(angle);
  const long double sine = Sin256(angle);
  std::int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  const int cornersA[4] = {0, width, 0, width};
  const int cornersB[4] = {0, 0, height, height};
  for (int corner = 0; corner < 4; ++corner) {
    const auto c = Trunc(static_cast<long double>(cornersA[corner]) - static_cast<long double>(width) * centerX);
    const auto d = Trunc(static_cast<long double>(cornersB[corner]) - static_cast<long double>(height) * centerY);
    if (!c || !d) return turn;
    const long double cl = static_cast<long double>(*c);
    const long double dl = static_cast<long double>(*d);
    const auto px = Trunc(cl * cosine - dl * sine);
    const auto py = Trunc(cl * sine + dl * cosine);
    if (!px || !py) return turn;
    minX = std::min(minX, *px);
    maxX = std::max(maxX, *px);
    minY = std::min(minY, *py);
    maxY = std::max(maxY, *py);
  }
  turn.BoxExists = true;
  turn.MinX = minX;
  turn.MaxX = maxX;
  turn.MinY = minY;
  turn.MaxY = maxY;

  // Per-pixel steps through the source: the inverse turn, scaled by source / box size.
  const std::int64_t cn = static_cast<std::int64_t>(Cos256(NegatedAngle(angle)) * static_cast<double>(kOne));
  const std::int64_t sn = static_cast<std::int64_t>(Sin256(NegatedAngle(angle)) * static_cast<double>(kOne));
  turn.DuX = sourceWidth * cn / width;
  turn.DvX = sourceHeight * sn / height;
  turn.DuY = sourceWidth * sn / width;
  turn.DvY = sourceHeight * cn / height;

  const auto u0 = Trunc(static_cast<long double>(centerX) * sourceWidth * kOne);
  const auto v0 = Trunc(static_cast<long double>(centerY) * sourceHeight * kOne);
  if (!u0 || !v0) return turn;
  turn.StartExists = true;
  turn.U0 = *u0;
  turn.V0 = *v0;
  return turn;
}

// The rows' spans of a drawing whose box is not cut at its top or left; they start at the same
// place in the source for every position.
void TSprite::KeepRows(TTurn& turn, std::int64_t left, std::int64_t top, std::int64_t right,
                       std::int64_t bottom) const {
  if (turn.RowsKnown && turn.RowsLeft == left && turn.RowsTop == top) return;
  std::int64_t u = turn.U0 + turn.MinX * turn.DuX - turn.MinY * turn.DuY + left * kOne;
  std::int64_t v = turn.V0 + turn.MinX * turn.DvX + turn.MinY * turn.DvY + top * kOne;
  turn.Rows.clear();
  for (std::int64_t r = 0; r < turn.MaxY - turn.MinY; ++r, u -= turn.DuY, v += turn.DvY)
    turn.Rows.push_back(RowSpan(u, v, turn.DuX, turn.DvX, left * kOne, right * kOne, top * kOne, bottom * kOne));
  turn.RowsKnown = true;
  turn.RowsLeft = left;
  turn.RowsTop = top;
  turn.PictureVersion = 0;
}

// Samples the rows once into runs of the pixels that are not the key. A drawing cut by the
// destination's edges writes the same pixels as the whole one, minus those beyond the edges:
// the sampling steps are exact integers, so a cut start lands on the same source pixels.
void TSprite::KeepPicture(TTurn& turn, const TSpritePattern& pattern) const {
  KeepRows(turn, pattern.Left, pattern.Top, pattern.Right, pattern.Bottom);
  if (turn.PictureVersion == picturesVersion_ && turn.PictureSource == pattern.Surface) return;
  const TSurface& source = *pattern.Surface;
  const std::uint32_t* sourceBits = source.ScanLine(0);
  const auto sourceStride = static_cast<std::uint64_t>(source.Stride());
  const bool useKey = transparent_ && source.ColorKey().has_value();
  const std::uint32_t key = 0xFF000000u | source.ColorKey().value_or(0);
  turn.Picture.Clear();
  for (std::size_t r = 0; r < turn.Rows.size(); ++r) {
    const TRowSpan& span = turn.Rows[r];
    if (!span.Draws) continue;
    const auto dy = static_cast<std::int32_t>(turn.MinY + static_cast<std::int64_t>(r));
    std::int64_t su = span.U, sv = span.V;
    bool inRun = false;
    for (std::int64_t i = 0; i < span.Count; ++i, su += turn.DuX, sv += turn.DvX) {
      const std::uint32_t pixel = sourceBits[(static_cast<std::uint64_t>(sv) >> 16) * sourceStride +
                                             (static_cast<std::uint64_t>(su) >> 16)];
      const bool opaque = !useKey || pixel != key;
      if (opaque) turn.Picture.Add(static_cast<int>(turn.MinX + span.Skip + i), dy, pixel, !inRun);
      inRun = opaque;
    }
  }
  turn.Picture.MakeMaskedRows();
  turn.PictureVersion = picturesVersion_;
  turn.PictureSource = pattern.Surface;
}

void TSprite::PrefetchTurn(int angle) const {
  const auto lines = [](const void* data, std::size_t bytes) {
    for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(static_cast<const char*>(data) + at);
  };
  const TTurn& turn = turns_[static_cast<std::size_t>(angle & 255)];
  lines(&turn, sizeof turn);
  const TKeptPixels& picture = turn.Picture;
  if (picture.MaskedRows.empty()) return;
  lines(picture.MaskedRows.data(), picture.MaskedRows.size() * sizeof(TMaskedRow));
  lines(picture.Rows.data(), picture.Rows.size() * sizeof(TSpan));
  lines(picture.RowPixels.data(), picture.RowPixels.size() * sizeof(std::uint32_t));
}

QRect TSprite::DrawRotate(TSurface& dest, int x, int y, int width, int height, int patternIndex, double centerX,
                          double centerY, int angle, std::vector<TSpan>* written) const {
  if (!initialized_ || patternIndex < 0 || patternIndex >= PatternCount()) return {};
  const TSpritePattern& pattern = patterns_[static_cast<std::size_t>(patternIndex)];
  const TSurface* source = pattern.Surface;
  if (source == nullptr || !source->HasPixels() || !dest.HasPixels()) return {};
  if (width == 0 || height == 0) return {};
  const int destWidth = dest.Width();
  const int destHeight = dest.Height();
  if (pattern.Left < 0 || pattern.Top < 0 || pattern.Right > source->Width() || pattern.Bottom > source->Height() ||
      pattern.Right <= pattern.Left || pattern.Bottom <= pattern.Top) {
    return {};
  }
  // Apart, each with its own return: folded into one condition, the compiler kept some of its
  // flags as bytes on the stack and read them back as words, a stall on every drawing.
  if (std::llabs(x) > kMaxPosition || std::llabs(y) > kMaxPosition) return {};
  if (std::llabs(width) > kMaxScaledSize || std::llabs(height) > kMaxScaledSize) return {};
  if (pattern.Right > kMaxPatternCoordinate || pattern.Bottom > kMaxPatternCoordinate) return {};
  if (destWidth > kMaxDestinationSize || destHeight > kMaxDestinationSize) return {};
  if (!(std::fabs(centerX) <= kMaxCenter) || !(std::fabs(centerY) <= kMaxCenter)) return {};

  const std::int64_t left = pattern.Left;
  const std::int64_t top = pattern.Top;
  const std::int64_t right = pattern.Right;
  const std::int64_t bottom = pattern.Bottom;
  const std::int64_t sourceWidth = right - left;
  const std::int64_t sourceHeight = bottom - top;

  TSprite::TTurn& turn = Turn(width, height, centerX, centerY, angle, sourceWidth, sourceHeight);
  if (!turn.BoxExists) return {};
  const std::int64_t x0 = std::max<std::int64_t>(turn.MinX + x, 0);
  const std::int64_t y0 = std::max<std::int64_t>(turn.MinY + y, 0);
  const std::int64_t x1 = std::min<std::int64_t>(turn.MaxX + x, destWidth);
  const std::int64_t y1 = std::min<std::int64_t>(turn.MaxY + y, destHeight);
  if (x0 > destWidth || y0 > destHeight || x1 < 1 || y1 < 1 || x1 - x0 < 1 || y1 - y0 < 1) return {};
  if (!turn.StartExists) return {};

  // Large turns are drawn row by row: a kept picture of them could be huge.
  constexpr std::int64_t kMaxKeptBox = 1 << 14;
  if (keepsPictures_ && (turn.MaxX - turn.MinX) * (turn.MaxY - turn.MinY) <= kMaxKeptBox) {
    KeepPicture(turn, pattern);
    return CopyRuns(dest, x, y, turn.Picture, written);
  }

  const std::int64_t dux = turn.DuX, dvx = turn.DvX, duy = turn.DuY, dvy = turn.DvY;
  std::int64_t u = turn.U0 + (x0 - x) * dux + (y - y0) * duy + left * kOne;
  std::int64_t v = turn.V0 + (x0 - x) * dvx + top * kOne - (y - y0) * dvy;

  const std::int64_t leftEdge = left * kOne, rightEdge = right * kOne;
  const std::int64_t topEdge = top * kOne, bottomEdge = bottom * kOne;
  const std::uint32_t* sourceBits = source->ScanLine(0);
  const auto sourceStride = static_cast<std::uint64_t>(source->Stride());
  const bool useKey = transparent_ && source->ColorKey().has_value();
  const std::uint32_t key = 0xFF000000u | source->ColorKey().value_or(0);

  std::int64_t minX = INT64_MAX, maxX = INT64_MIN, minY = INT64_MAX, maxY = INT64_MIN;
  const auto drawSpan = [&](std::int64_t row, const TRowSpan& span) {
    if (!span.Draws || span.Skip >= destWidth - x0) return;
    const std::int64_t count = std::min(span.Count, destWidth - (x0 + span.Skip));
    std::uint32_t* to = dest.ScanLine(static_cast<int>(row)) + x0 + span.Skip;
    std::int64_t su = span.U;
    std::int64_t sv = span.V;
    // su and sv stay inside the pattern, so they are never negative and the shift
    // is the truncating division.
    for (std::int64_t i = 0; i < count; ++i, su += dux, sv += dvx) {
      const std::uint32_t pixel = sourceBits[(static_cast<std::uint64_t>(sv) >> 16) * sourceStride +
                                             (static_cast<std::uint64_t>(su) >> 16)];
      if (useKey && pixel == key) continue;
      to[i] = pixel;
      minX = std::min(minX, x0 + span.Skip + i);
      maxX = std::max(maxX, x0 + span.Skip + i);
      minY = std::min(minY, row);
      maxY = std::max(maxY, row);
    }
  };

  if (x0 == x + turn.MinX && y0 == y + turn.MinY) {
    KeepRows(turn, left, top, right, bottom);
    for (std::int64_t row = y0; row < y1; ++row) drawSpan(row, turn.Rows[static_cast<std::size_t>(row - y0)]);
  } else {
    for (std::int64_t row = y0; row < y1; ++row, u -= duy, v += dvy)
      drawSpan(row, RowSpan(u, v, dux, dvx, leftEdge, rightEdge, topEdge, bottomEdge));
  }
  if (minX > maxX) return {};
  const QRect drawn(QPoint(static_cast<int>(minX), static_cast<int>(minY)),
                    QPoint(static_cast<int>(maxX), static_cast<int>(maxY)));
  if (written != nullptr) AppendSpans(*written, drawn);
  return drawn;
}

// ---------------------------------------------------------------------------------
// TSpriteCollection

TSprite& TSpriteCollection::Items(int index) {
  return const_cast<TSprite&>(static_cast<const TSpriteCollection&>(*this).Items(index));
}

const TSprite& TSpriteCollection::Items(int index) const {
  if (index < 0 || index >= Count()) {
    char message[64];
    std::snprintf(message, sizeof message, "List index out of bounds (%d)", index);
    throw EListError(message);
  }
  return *items_[static_cast<std::size_t>(index)];
}

TSprite& TSpriteCollection::Add() {
  items_.push_back(std::make_unique<TSprite>(*this));
  return *items_.back();
}

void TSpriteCollection::Clear() { items_.clear(); }

int TSpriteCollection::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    if (items_[static_cast<std::size_t>(i)]->Name() == name) return i;
  }
  return -1;
}

void TSpriteCollection::Initialize(TCustomSurfaceView& view) {
  Finalize();
  view_ = &view;
  if (!view.Initialized()) throw ESpriteCollectionError("TSpriteCollection cannot be initialized");
  for (const auto& sprite : items_) sprite->Initialize();
}

void TSpriteCollection::Restore() {
  for (const auto& sprite : items_) sprite->Restore();
}

void TSpriteCollection::Finalize() {
  for (const auto& sprite : items_) sprite->Finalize();
  view_ = nullptr;
}

// ---------------------------------------------------------------------------------
// TCustomSpriteList

TCustomSpriteList::TCustomSpriteList() : items_(*this) {}

TCustomSpriteList::~TCustomSpriteList() {
  try {
    SetView(nullptr);
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  }
}

void TCustomSpriteList::SetView(TCustomSurfaceView* view) {
  if (view == view_) return;
  if (view_ != nullptr) {
    TCustomSurfaceView* old = view_;
    view_ = nullptr;
    old->UnregisterNotifyEvent(this);
  }
  items_.Finalize();
  view_ = view;
  if (view_ != nullptr) {
    view_->RegisterNotifyEvent(this, [this](TCustomSurfaceView& sender, SurfaceViewNotice notice) {
      ViewNotice(sender, notice);
    });
  }
}

void TCustomSpriteList::ViewNotice(TCustomSurfaceView& view, SurfaceViewNotice notice) {
  switch (notice) {
    case SurfaceViewNotice::Destroying:
      items_.Finalize();
      view_ = nullptr;
      break;
    case SurfaceViewNotice::Initialize:
      items_.Initialize(view);
      break;
    case SurfaceViewNotice::Restore:
      items_.Restore();
      break;
    case SurfaceViewNotice::Finalize:
      items_.Finalize();
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------

void LoadStandardSprites(TSpriteCollection& items) {
  for (const char* name : {"Creature", "Food", "Poision"}) {
    TSprite& sprite = items.Add();
    sprite.SetName(name);
    sprite.SetPatternHeight(0);
    sprite.SetPatternWidth(0);
    sprite.SetSkipHeight(0);
    sprite.SetSkipWidth(0);
    sprite.SetSystemMemory(true);
    sprite.SetTransparent(true);
    sprite.SetTransparentColor(clWhite);
    sprite.SetPicture(StandardSpritePicture(name));
  }
}

}  // namespace zemlix
