#include "display/Surfaces.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>

#include "display/HandlerErrors.h"

namespace zemlix {

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;

// Far beyond any surface, small enough that QRect arithmetic cannot overflow.
constexpr int kCoordinateLimit = 1 << 24;

int ClampCoordinate(int value) { return std::clamp(value, -kCoordinateLimit, kCoordinateLimit); }

int Saturate(std::int64_t value) { return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX)); }

QFont SurfaceFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  font.setStyleStrategy(QFont::NoAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

QColor ToQColor(std::uint32_t pixel) { return QColor::fromRgb(pixel); }

// Calls an event handler supplied by the owner; its errors must not reach Qt.
template <typename Handler, typename... Args>
void CallGuarded(const Handler& handler, Args&&... args) {
  if (!handler) return;
  try {
    handler(std::forward<Args>(args)...);
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------
// TFont, TSurfaceCanvas

TFont::TFont() : face_(SurfaceFont()), metrics_(face_) {}

const TFont::TGlyph& TFont::Glyph(char32_t character) const {
  if (character < asciiGlyphs_.size() && asciiGlyphs_[character]) return *asciiGlyphs_[character];
  const auto known = glyphs_.find(character);
  if (known != glyphs_.end()) return known->second;
  TGlyph glyph;
  const QString text = QString::fromUcs4(&character, 1);
  glyph.Advance = metrics_.horizontalAdvance(text);
  // Room around the cell for ink that reaches beyond it.
  const int margin = metrics_.height();
  QImage picture(glyph.Advance + 2 * margin, metrics_.height() + 2 * margin, QImage::Format_RGB32);
  picture.fill(0);
  {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(face_);
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(QPoint(margin, margin + metrics_.ascent()), text);
  }
  for (int y = 0; y < picture.height(); ++y) {
    const auto* line = reinterpret_cast<const std::uint32_t*>(picture.constScanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      if ((line[x] & 0x00FFFFFFu) == 0) continue;
      const QPoint ink(x - margin, y - margin);
      if (glyph.Ink.empty() || ink.x() < glyph.InkLeft) glyph.InkLeft = ink.x();
      if (glyph.Ink.empty() || ink.x() > glyph.InkRight) glyph.InkRight = ink.x();
      glyph.Ink.push_back(ink);
    }
  }
  if (character < asciiGlyphs_.size()) {
    asciiGlyphs_[character] = std::make_unique<TGlyph>(std::move(glyph));
    return *asciiGlyphs_[character];
  }
  return glyphs_.emplace(character, std::move(glyph)).first->second;
}

TSurfaceCanvas::TSurfaceCanvas(TSurface& surface) : surface_(surface) {}

TSurfaceCanvas::~TSurfaceCanvas() { Release(); }

bool TSurfaceCanvas::OpenPass() {
  if (!surface_.HasPixels()) return false;
  surface_.CatchUp();
  passOpen_ = true;
  return true;
}

QPainter& TSurfaceCanvas::Painter() {
  if (!painter_) painter_ = std::make_unique<QPainter>();
  if (!painter_->isActive()) {
    if (!painter_->begin(&surface_.image_)) throw ESurfaceError("Canvas does not allow drawing");
    painter_->setRenderHint(QPainter::Antialiasing, false);
  }
  return *painter_;
}

void TSurfaceCanvas::EndPainter() {
  if (painter_ && painter_->isActive()) painter_->end();
}

void TSurfaceCanvas::Release() {
  if (!passOpen_) return;
  if (painter_ && painter_->isActive()) painter_->end();
  passOpen_ = false;
  penPos_ = QPoint(0, 0);
}

void TSurfaceCanvas::FillSpan(int x1, int x2, int y, std::uint32_t pixel) {
  FillBox(x1, y, x2, y + (y < INT_MAX ? 1 : 0), pixel);
}

// Columns x1..x2-1, rows y1..y2-1, clipped to the surface.
void TSurfaceCanvas::FillBox(int x1, int y1, int x2, int y2, std::uint32_t pixel) {
  const int left = std::clamp(x1, 0, surface_.Width());
  const int right = std::clamp(x2, 0, surface_.Width());
  const int top = std::clamp(y1, 0, surface_.Height());
  const int bottom = std::clamp(y2, 0, surface_.Height());
  if (left >= right) return;
  for (int y = top; y < bottom; ++y) std::fill(surface_.ScanLine(y) + left, surface_.ScanLine(y) + right, pixel);
}

void TSurfaceCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (!OpenPass()) return;
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  if (Brush.Style() == bsSolid) {
    if (const auto fill = ColorToPixel(Brush.Color())) FillBox(x1, y1, x2, y2, *fill);
  }
  if (Pen.Style() == psClear) return;
  if (const auto outline = ColorToPixel(Pen.Color())) {
    FillSpan(x1, x2, y1, *outline);
    FillSpan(x1, x2, y2 - 1, *outline);
    FillBox(x1, y1, x1 + 1, y2, *outline);
    FillBox(x2 - 1, y1, x2, y2, *outline);
  }
}

void TSurfaceCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (!OpenPass()) return;
  x1 = ClampCoordinate(x1);
  y1 = ClampCoordinate(y1);
  x2 = ClampCoordinate(x2);
  y2 = ClampCoordinate(y2);
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  const auto fill = Brush.Style() == bsSolid ? ColorToPixel(Brush.Color()) : std::nullopt;
  const auto outline = Pen.Style() == psSolid ? ColorToPixel(Pen.Color()) : std::nullopt;
  if (!fill && !outline) return;
  QPainter& painter = Painter();
  if (outline) {
    QPen pen(ToQColor(*outline), 1);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
  } else {
    painter.setPen(Qt::NoPen);
  }
  painter.setBrush(fill ? QBrush(ToQColor(*fill)) : QBrush(Qt::NoBrush));
  painter.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

void TSurfaceCanvas::MoveTo(int x, int y) {
  if (!OpenPass()) return;
  penPos_ = QPoint(x, y);
}

void TSurfaceCanvas::LineTo(int x, int y) {
  if (!OpenPass()) return;
  const QPoint from = penPos_;
  penPos_ = QPoint(x, y);
  if (Pen.Style() == psClear) return;
  const auto color = ColorToPixel(Pen.Color());
  if (!color || from == penPos_) return;
  // Written directly, not through QPainter: its rasteriser may leave out the start
  // pixel instead of the end one when a slanted line runs up or left.
  const std::int64_t x1 = from.x(), y1 = from.y();
  const std::int64_t dx = static_cast<std::int64_t>(x) - x1, dy = static_cast<std::int64_t>(y) - y1;
  const bool alongX = std::llabs(dx) >= std::llabs(dy);
  const std::int64_t steps = alongX ? std::llabs(dx) : std::llabs(dy);  // pixels drawn
  const std::int64_t minorSteps = alongX ? std::llabs(dy) : std::llabs(dx);
  const std::int64_t majorStart = alongX ? x1 : y1;
  const std::int64_t majorStep = (alongX ? dx : dy) > 0 ? 1 : -1;
  const std::int64_t minorStart = alongX ? y1 : x1;
  const std::int64_t minorStep = (alongX ? dy : dx) > 0 ? 1 : -1;
  const std::int64_t majorLimit = alongX ? surface_.Width() : surface_.Height();
  const std::int64_t minorLimit = alongX ? surface_.Height() : surface_.Width();
  // Only the steps whose major coordinate lies on the surface, so far-off lines cost
  // no more than the surface is wide.
  std::int64_t first = 0, last = steps;
  if (majorStep > 0) {
    first = std::max<std::int64_t>(first, -majorStart);
    last = std::min(last, majorLimit - majorStart);
  } else {
    first = std::max<std::int64_t>(first, majorStart - majorLimit + 1);
    last = std::min(last, majorStart + 1);
  }
  for (std::int64_t i = first; i < last; ++i) {
    const std::int64_t major = majorStart + majorStep * i;
    // Nearest minor coordinate, halves rounded away from the start (none to find for a
    // straight line, such as the genome map's bars, drawn every frame).
    const auto offset =
        minorSteps == 0 ? 0 : (2 * static_cast<__int128>(i) * minorSteps + steps) / (2 * steps);  // wide: i * minorSteps can pass 2^63
    const std::int64_t minor = minorStart + minorStep * static_cast<std::int64_t>(offset);
    if (minor < 0 || minor >= minorLimit) continue;
    const int px = static_cast<int>(alongX ? major : minor);
    const int py = static_cast<int>(alongX ? minor : major);
    surface_.ScanLine(py)[px] = *color;
  }
}

int TSurfaceCanvas::TextWidth(const QString& text) const {
  return Font.LayOut(text, [](const TFont::TGlyph&, int) {});
}

int TSurfaceCanvas::TextHeight() const { return Font.Metrics().height(); }

void TSurfaceCanvas::TextOut(int x, int y, const QString& text) {
  if (!OpenPass()) return;
  // Only the background box needs the width before the text is drawn; otherwise the
  // drawing's own layout gives it.
  std::optional<int> width;
  if (Brush.Style() == bsSolid) {
    width = TextWidth(text);
    if (const auto fill = ColorToPixel(Brush.Color())) {
      FillBox(x, y, Saturate(std::int64_t{x} + *width), Saturate(std::int64_t{y} + Font.Metrics().height()),
              *fill);
    }
  }
  if (const auto color = ColorToPixel(Font.Color()); color && !text.isEmpty()) {
    // Written directly: a QPainter pass per string cost more than the rest of a frame.
    const std::int64_t surfaceWidth = surface_.Width(), surfaceHeight = surface_.Height();
    width = Font.LayOut(text, [&](const TFont::TGlyph& glyph, int pen) {
      for (const QPoint& ink : glyph.Ink) {
        const std::int64_t px = std::int64_t{x} + pen + ink.x();
        const std::int64_t py = std::int64_t{y} + ink.y();
        if (px >= 0 && px < surfaceWidth && py >= 0 && py < surfaceHeight)
          surface_.ScanLine(static_cast<int>(py))[px] = *color;
      }
    });
  }
  penPos_ = QPoint(Saturate(std::int64_t{x} + (width ? *width : TextWidth(text))), y);
}

// ---------------------------------------------------------------------------------
// TSurface

TSurface::TSurface() = default;

TSurface::TSurface(int width, int height) {
  if (!Allocate(width, height)) throw ESurfaceError("Surface memory not made");
}

TSurface::~TSurface() {
  // The canvas may still hold a painter on image_.
  canvas_.reset();
}

bool TSurface::Allocate(int width, int height) {
  Free();
  if (width <= 0 || height <= 0) return false;
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return false;
  image_ = std::move(image);
  TakeBuffer();
  Fill(0);
  return true;
}

void TSurface::TakeBuffer() {
  // bits() detaches a buffer someone else still shares, so it is never written under them.
  bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
  stride_ = image_.bytesPerLine() / static_cast<qsizetype>(sizeof(std::uint32_t));
  width_ = image_.width();
  height_ = image_.height();
}

void TSurface::CatchUp() const {
  if (stale_.empty()) return;
  const std::vector<QRect> rects = std::exchange(stale_, {});
  if (staleSource_ == nullptr || staleSource_->size() != image_.size()) return;
  for (const QRect& rect : rects) {
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      const auto* from = reinterpret_cast<const std::uint32_t*>(staleSource_->constScanLine(y)) + rect.left();
      std::copy_n(from, rect.width(), bits_ + static_cast<std::ptrdiff_t>(y) * stride_ + rect.left());
    }
  }
}

void TSurface::Free() {
  if (canvas_) canvas_->Release();
  stale_.clear();
  image_ = QImage();
  bits_ = nullptr;
  stride_ = 0;
  width_ = 0;
  height_ = 0;
}

void AppendSpans(std::vector<TSpan>& spans, const QRect& rect) {
  if (rect.isEmpty()) return;
  for (int y = rect.top(); y <= rect.bottom(); ++y) spans.push_back({rect.left(), y, rect.width()});
}

void TSurface::FillSpans(std::span<const TSpan> spans, std::uint32_t pixel, int dx, int dy) {
  if (bits_ == nullptr) return;
  CatchUp();
  const std::uint32_t word = kOpaque | pixel;
  if (maskedRowStores_) {
    FillSpansAvx512(bits_, stride_, width_, height_, spans.data(), spans.size(), dx, dy, word);
    return;
  }
  for (const TSpan& span : spans) {
    const std::int64_t y = std::int64_t{span.Y} + dy, x = std::int64_t{span.X} + dx;
    if (y < 0 || y >= height_) continue;
    const std::int64_t from = std::max<std::int64_t>(x, 0);
    const std::int64_t to = std::min<std::int64_t>(x + span.Count, width_);
    if (from >= to) continue;
    std::uint32_t* line = bits_ + static_cast<std::ptrdiff_t>(y) * stride_ + from;
    const std::int64_t count = to - from;
#if defined(__SSE2__)
    // Spans are short (a sprite's row): whole 16-byte stores, the last one overlapping the
    // one before it, rather than a loop that first lines up and then mops up.
    if (count >= 4) {
      const __m128i four = _mm_set1_epi32(static_cast<int>(word));
      for (std::int64_t i = 0; i + 4 < count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(line + i), four);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(line + count - 4), four);
      continue;
    }
#endif
    for (std::int64_t i = 0; i < count; ++i) line[i] = word;
  }
}

void TSurface::Fill(std::uint32_t pixel) {
  if (bits_ == nullptr) return;
  stale_.clear();  // every pixel is set anew
  const std::uint32_t word = kOpaque | pixel;
  if (stride_ == width_) {
    std::fill_n(bits_, static_cast<std::ptrdiff_t>(width_) * height_, word);
  } else {
    for (int y = 0; y < height_; ++y) std::fill_n(ScanLine(y), width_, word);
  }
}

std::uint32_t TSurface::Pixel(int x, int y) const {
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  CatchUp();
  return ScanLine(y)[x] & 0x00FFFFFFu;
}

void TSurface::SetPixel(int x, int y, std::uint32_t pixel) {
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  CatchUp();
  ScanLine(y)[x] = kOpaque | pixel;
}

void TSurface::CopyRect(int x, int y, const TSurface& source, int left, int top, int right, int bottom,
                        bool useKey) {
  if (!HasPixels() || !source.HasPixels()) return;
  if (x > width_ || y > height_) return;
  // Mirrored copies (right < left) are not supported; nothing here makes them.
  if (right < left || bottom < top) return;
  // 64-bit: the edges of a rectangle placed near INT_MAX must not wrap.
  std::int64_t destLeft = x, destTop = y;
  std::int64_t destRight = destLeft + (static_cast<std::int64_t>(right) - left);
  std::int64_t destBottom = destTop + (static_cast<std::int64_t>(bottom) - top);
  std::int64_t srcLeft = left, srcTop = top, srcRight = right, srcBottom = bottom;

  if (destLeft < 0) { srcLeft -= destLeft; destLeft = 0; }
  if (destTop < 0) { srcTop -= destTop; destTop = 0; }
  if (destRight > width_) { srcRight -= destRight - width_; destRight = width_; }
  if (destBottom > height_) { srcBottom -= destBottom - height_; destBottom = height_; }

  if (srcLeft < 0) { destLeft -= srcLeft; srcLeft = 0; }
  if (srcTop < 0) { destTop -= srcTop; srcTop = 0; }
  if (srcRight > source.width_) { destRight -= srcRight - source.width_; srcRight = source.width_; }
  if (srcBottom > source.height_) { destBottom -= srcBottom - source.height_; srcBottom = source.height_; }

  if (destRight <= destLeft || destBottom <= destTop || srcRight <= srcLeft || srcBottom <= srcTop) return;

  const int columns = static_cast<int>(destRight - destLeft);
  const int rows = static_cast<int>(destBottom - destTop);
  const bool skipKey = useKey && source.colorKey_.has_value();
  const std::uint32_t key = kOpaque | source.colorKey_.value_or(0);
  for (int row = 0; row < rows; ++row) {
    const std::uint32_t* from = source.ScanLine(static_cast<int>(srcTop) + row) + srcLeft;
    std::uint32_t* to = ScanLine(static_cast<int>(destTop) + row) + destLeft;
    if (!skipKey) {
      std::copy_n(from, columns, to);
      continue;
    }
    for (int column = 0; column < columns; ++column) {
      if (from[column] != key) to[column] = from[column];
    }
  }
}

TSurfaceCanvas& TSurface::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TSurfaceCanvas>(*this);
  return *canvas_;
}

// ---------------------------------------------------------------------------------
// TCustomSurfaceView

TCustomSurfaceView::TCustomSurfaceView(QWidget* parent)
    : QWidget(parent), surface_(std::make_unique<TSurface>()) {
  resize(100, 100);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

TCustomSurfaceView::~TCustomSurfaceView() {
  try {
    Finalize();
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  }
  const auto receivers = receivers_;
  for (const auto& [receiver, event] : receivers) CallGuarded(event, *this, SurfaceViewNotice::Destroying);
  receivers_.clear();
}

int TCustomSurfaceView::SurfaceWidth() const {
  if (surface_->HasPixels()) return surface_->Width();
  // A hidden widget's resize events are held back until it is shown; its geometry is
  // already final, so read it directly.
  return autoSize_ ? width() : surfaceWidth_;
}

int TCustomSurfaceView::SurfaceHeight() const {
  if (surface_->HasPixels()) return surface_->Height();
  return autoSize_ ? height() : surfaceHeight_;
}

void TCustomSurfaceView::SetSurfaceWidth(int value) { SetSurfaceSize(value, surfaceHeight_); }

void TCustomSurfaceView::SetSurfaceHeight(int value) { SetSurfaceSize(surfaceWidth_, value); }

void TCustomSurfaceView::SetSurfaceSize(int width, int height) {
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  if (!initialized_ || busy_ || !surface_->HasPixels()) return;
  if (std::max(width, 1) == surface_->Width() && std::max(height, 1) == surface_->Height()) return;
  RemakeSurface();
}

void TCustomSurfaceView::RemakeSurface() {
  if (!surface_->Allocate(std::max(surfaceWidth_, 1), std::max(surfaceHeight_, 1))) {
    Finalize();
    throw ESurfaceViewError("Surface cannot be made");
  }
  Notify(SurfaceViewNotice::SetSurfaceSize);
  Present();
}

void TCustomSurfaceView::SetOptions(TSurfaceViewOptions options) {
  options_ = options;
  update();
}

void TCustomSurfaceView::SetColor(TColor color) {
  color_ = color;
  update();
}

void TCustomSurfaceView::Initialize() {
  Finalize();
  if (isWindow()) throw ESurfaceViewError("Form not found");
  initializedIn_ = window();

  if (OnInitializing) OnInitializing(*this);
  started_ = true;
  try {
    busy_ = true;
    Notify(SurfaceViewNotice::Initializing);
    if (autoSize_) {
      surfaceWidth_ = width();
      surfaceHeight_ = height();
    }
    if (!surface_->Allocate(std::max(surfaceWidth_, 1), std::max(surfaceHeight_, 1))) {
      throw ESurfaceViewError("Surface cannot be made");
    }
    surface_->Fill(0);
    busy_ = false;
    initialized_ = true;

    Notify(SurfaceViewNotice::SetSurfaceSize);
    calledInitialize_ = true;
    Notify(SurfaceViewNotice::Initialize);
    if (OnInitialize) OnInitialize(*this);
    calledInitializeSurface_ = true;
    Notify(SurfaceViewNotice::InitializeSurface);
    if (OnInitializeSurface) OnInitializeSurface(*this);
    Restore();
    Present();
  } catch (...) {
    try {
      Finalize();
    } catch (const std::exception& error) {
      ReportHandlerError(error);
    }
    throw;
  }
}

void TCustomSurfaceView::Finalize() {
  if (!started_) return;
  started_ = false;
  if (surface_->HasPixels()) {
    surfaceWidth_ = surface_->Width();
    surfaceHeight_ = surface_->Height();
  }
  busy_ = true;

  std::exception_ptr firstError;
  const auto guarded = [&](const auto& step) {
    try {
      step();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
  };
  const auto notifyEach = [&](SurfaceViewNotice notice) {
    const auto receivers = receivers_;
    for (const auto& entry : receivers) guarded([&] { entry.second(*this, notice); });
  };
  if (calledInitializeSurface_) guarded([&] { if (OnFinalizeSurface) OnFinalizeSurface(*this); });
  notifyEach(SurfaceViewNotice::FinalizeSurface);
  if (calledInitialize_) guarded([&] { if (OnFinalize) OnFinalize(*this); });
  notifyEach(SurfaceViewNotice::Finalize);

  surface_->Free();
  presented_ = QImage();
  initialized_ = false;
  busy_ = false;
  calledInitialize_ = false;
  calledInitializeSurface_ = false;
  initializedIn_ = nullptr;
  update();
  if (firstError) std::rethrow_exception(firstError);
}

void TCustomSurfaceView::Restore() {
  if (!initialized_ || busy_) return;
  busy_ = true;
  try {
    surface_->Fill(0);
    Notify(SurfaceViewNotice::Restore);
    if (OnRestoreSurface) OnRestoreSurface(*this);
  } catch (...) {
    busy_ = false;
    throw;
  }
  busy_ = false;
}

void TCustomSurfaceView::Notify(SurfaceViewNotice notice) {
  // A copy: receivers may unregister themselves while being told.
  const auto receivers = receivers_;
  for (const auto& [receiver, event] : receivers) {
    const bool stillRegistered = std::any_of(receivers_.begin(), receivers_.end(),
                                             [&](const auto& entry) { return entry.first == receiver; });
    if (stillRegistered) event(*this, notice);
  }
}

void TCustomSurfaceView::RegisterNotifyEvent(const void* receiver, SurfaceViewNotifyEvent event) {
  UnregisterNotifyEvent(receiver);
  receivers_.emplace_back(receiver, event);
  if (initialized_) {
    event(*this, SurfaceViewNotice::Initialize);
    event(*this, SurfaceViewNotice::Restore);
  }
}

void TCustomSurfaceView::UnregisterNotifyEvent(const void* receiver) {
  const auto found = std::find_if(receivers_.begin(), receivers_.end(),
                                  [&](const auto& entry) { return entry.first == receiver; });
  if (found == receivers_.end()) return;
  const SurfaceViewNotifyEvent event = found->second;
  receivers_.erase(found);
  if (initialized_) event(*this, SurfaceViewNotice::Finalize);
}

void TCustomSurfaceView::Flip() {
  if (!initialized_ || busy_ || !surface_->HasPixels()) return;
  Present();
}

void TCustomSurfaceView::FlipSwapping(std::vector<QRect> changed) {
  if (!initialized_ || busy_ || !surface_->HasPixels()) return;
  if (presented_.size() != surface_->image_.size()) {
    Present();
    return;
  }
  surface_->CatchUp();
  if (surface_->canvas_) surface_->canvas_->EndPainter();
  presented_.swap(surface_->image_);
  surface_->TakeBuffer();
  const QRect bounds = presented_.rect();
  for (QRect& rect : changed) rect &= bounds;
  std::erase_if(changed, [](const QRect& rect) { return rect.isEmpty(); });
  if (options_ & doStretch) {
    update(PresentedRect());
  } else {
    const QPoint offset = PresentedRect().topLeft();
    QRegion region;
    for (const QRect& rect : changed) region += rect.translated(offset);
    update(region);
  }
  surface_->stale_ = std::move(changed);
  surface_->staleSource_ = &presented_;
}

void TCustomSurfaceView::Present() {
  surface_->CatchUp();
  const QImage& source = surface_->image_;
  const auto bytes = static_cast<std::size_t>(source.sizeInBytes());
  // The same picture again (the genome map between generations) is on the screen already or
  // about to be: comparing costs less than the repaint and the flush to the window system.
  if (!presented_.isNull() && presented_.size() == source.size() &&
      std::memcmp(presented_.constBits(), source.constBits(), bytes) == 0)
    return;
  if (presented_.size() != source.size()) presented_ = QImage(source.size(), QImage::Format_RGB32);
  if (presented_.isNull()) return;
  std::memcpy(presented_.bits(), source.constBits(), bytes);
  update(PresentedRect());
}

QRect TCustomSurfaceView::PresentedRect() const {
  if (options_ & doStretch) return rect();
  const QSize size = presented_.isNull() ? surface_->image_.size() : presented_.size();
  if (options_ & doCenter) {
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  }
  return QRect(QPoint(0, 0), size);
}

bool TCustomSurfaceView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && OnToolTip) {
    try {
      const QString text = OnToolTip();
      if (text != toolTip()) setToolTip(text);
    } catch (const std::exception& error) {
      ReportHandlerError(error);
    }
  }
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::Show && autoInitialize_ && !triedInitialize_) {
    triedInitialize_ = true;
    try {
      Initialize();
    } catch (const std::exception& error) {
      ReportHandlerError(error);
    }
  } else if (event->type() == QEvent::ParentChange && started_ && window() != initializedIn_) {
    // Taken out of its window: it follows the new one from its next show.
    triedInitialize_ = false;
    try {
      Finalize();
    } catch (const std::exception& error) {
      ReportHandlerError(error);
    }
  }
  return handled;
}

void TCustomSurfaceView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect target = PresentedRect();
  if (presented_.isNull() || !target.contains(event->rect())) {
    painter.fillRect(event->rect(), ToQColor(ColorToRgb(color_)));
  }
  if (presented_.isNull()) return;
  if (options_ & doStretch) {
    painter.drawImage(target, presented_);
    return;
  }
  // Only the region asked for: after a swapping flip, what changed.
  for (const QRect& rect : event->region()) {
    const QRect source = rect.translated(-target.topLeft()) & presented_.rect();
    if (!source.isEmpty()) painter.drawImage(source.topLeft() + target.topLeft(), presented_, source);
  }
}

void TCustomSurfaceView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!autoSize_) return;
  try {
    SetSurfaceSize(width(), height());
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  }
}

void TCustomSurfaceView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  const QPoint at = event->position().toPoint();
  CallGuarded(OnMouseDown, *this, event->button(), event->modifiers(), at.x(), at.y());
}

void TCustomSurfaceView::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(at);
  if (event->button() == Qt::LeftButton) pressed_ = false;
  CallGuarded(OnMouseUp, *this, event->button(), event->modifiers(), at.x(), at.y());
  if (click) CallGuarded(OnClick, *this);
}

void TCustomSurfaceView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  CallGuarded(OnMouseMove, *this, event->buttons(), event->modifiers(), at.x(), at.y());
}

}  // namespace zemlix
