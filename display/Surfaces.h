#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include "display/Colors.h"
#include "display/Errors.h"
#include "display/PixelRows.h"

class QPainter;

namespace zemlix {

class TSurface;

// Appends one span per row of rect.
void AppendSpans(std::vector<TSpan>& spans, const QRect& rect);

enum TPenStyle { psSolid, psClear };
enum TBrushStyle { bsSolid, bsClear };

class TPen {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle style) { style_ = style; }

 private:
  TColor color_ = clBlack;
  TPenStyle style_ = psSolid;
};

// Colour and style are coupled: a colour makes a clear brush solid again, and a
// clear brush is white.
class TBrush {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor color) {
    color_ = color;
    if (style_ == bsClear) style_ = bsSolid;
  }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle style) {
    style_ = style;
    if (style == bsClear) color_ = clWhite;
  }

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

// DejaVu Sans at 11 pixels (8 points at 96 dpi), never antialiased, so every glyph
// pixel is exactly the font colour. Text is set glyph by glyph from pictures rendered once
// per character: each glyph at its own advance, moved right where needed so that at least
// one empty column separates its ink from the previous glyph's (unhinted pairs such as "Fi"
// would otherwise touch at this size).
class TFont {
 public:
  TFont();
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  const QFont& Face() const { return face_; }
  const QFontMetrics& Metrics() const { return metrics_; }

  struct TGlyph {
    std::vector<QPoint> Ink;  // pixels, relative to the pen at the text cell's top-left
    int InkLeft = 0;          // first and last column of ink; meaningless without ink
    int InkRight = 0;
    int Advance = 0;
  };
  const TGlyph& Glyph(char32_t character) const;

  // Calls place(glyph, penX) for each character of text, penX relative to the text's start,
  // and returns the width of the text cell.
  template <typename Place>
  int LayOut(const QString& text, Place&& place) const;

 private:
  TColor color_ = clWindowText;
  QFont face_;
  QFontMetrics metrics_;
  // Rendered on first use: ASCII in a table (looked up for every character drawn), the
  // rest in a map.
  mutable std::array<std::unique_ptr<TGlyph>, 128> asciiGlyphs_;
  mutable std::unordered_map<char32_t, TGlyph> glyphs_;
};

template <typename Place>
int TFont::LayOut(const QString& text, Place&& place) const {
  int pen = 0;
  int lastInk = 0;
  bool anyInk = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t character = text[i].unicode();
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      character = QChar::surrogateToUcs4(text[i], text[i + 1]);
      ++i;
    }
    const TGlyph& glyph = Glyph(character);
    if (!glyph.Ink.empty()) {
      if (anyInk && pen + glyph.InkLeft <= lastInk + 1) pen = lastInk + 2 - glyph.InkLeft;
      lastInk = pen + glyph.InkRight;
      anyInk = true;
    }
    place(glyph, pen);
    pen += glyph.Advance;
  }
  return anyInk ? std::max(pen, lastInk + 1) : pen;
}

// Pen, brush and font drawing on one surface; coordinates in surface pixels. A pass
// opens by itself at the first operation and ends at Release, which also puts the pen
// back at (0, 0). Pen, brush and font settings last as long as the canvas. On a
// surface without pixels (its view is not initialised) the drawing is dropped.
class TSurfaceCanvas {
 public:
  explicit TSurfaceCanvas(TSurface& surface);
  ~TSurfaceCanvas();
  TSurfaceCanvas(const TSurfaceCanvas&) = delete;
  TSurfaceCanvas& operator=(const TSurfaceCanvas&) = delete;

  TPen Pen;
  TBrush Brush;
  TFont Font;

  // Covers columns x1..x2-1 and rows y1..y2-1: a 1-pixel outline on the outermost
  // ones, the brush inside. An empty box draws nothing.
  void Rectangle(int x1, int y1, int x2, int y2);
  // The ellipse inscribed in the same box as Rectangle.
  void Ellipse(int x1, int y1, int x2, int y2);
  void MoveTo(int x, int y);
  // From the pen position to (x, y), leaving out the end pixel.
  void LineTo(int x, int y);
  // Text cell's top-left corner at (x, y). A solid brush fills the cell first, a clear
  // one leaves everything but the glyph pixels alone. Moves the pen to the cell's end.
  void TextOut(int x, int y, const QString& text);
  void TextOut(int x, int y, std::string_view utf8) { TextOut(x, y, QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))); }
  void TextOut(int x, int y, const char* utf8) { TextOut(x, y, QString::fromUtf8(utf8)); }
  int TextWidth(const QString& text) const;
  int TextHeight() const;

  QPoint PenPos() const { return penPos_; }
  void Release();
  bool PassOpen() const { return passOpen_; }

 private:
  friend class TCustomSurfaceView;
  bool OpenPass();
  QPainter& Painter();
  void FillSpan(int x1, int x2, int y, std::uint32_t pixel);
  void FillBox(int x1, int y1, int x2, int y2, std::uint32_t pixel);
  // Ends the painter's work on the surface's buffer, which is about to change hands.
  void EndPainter();

  TSurface& surface_;
  std::unique_ptr<QPainter> painter_;
  bool passOpen_ = false;
  QPoint penPos_{0, 0};
};

// A rectangle of pixels, QImage::Format_RGB32. Raw pixel values (Fill, the colour
// key, Pixel/SetPixel) are 0x00RRGGBB: 0 is black. Every word in memory carries 0xFF
// in its top byte, so ScanLine words are 0xFFRRGGBB. A surface may have no pixels
// (its view is not initialised); then it is 0 x 0 and every operation does nothing.
class TSurface {
 public:
  TSurface();
  TSurface(int width, int height);  // throws ESurfaceError if the memory cannot be had
  ~TSurface();
  TSurface(const TSurface&) = delete;
  TSurface& operator=(const TSurface&) = delete;

  // Replaces the pixels with width x height (contents undefined); false if the memory
  // cannot be had, leaving the surface without pixels. Ends an open canvas pass.
  bool Allocate(int width, int height);
  void Free();
  bool HasPixels() const { return bits_ != nullptr; }

  int Width() const { return width_; }
  int Height() const { return height_; }

  void Fill(std::uint32_t pixel);
  // Sets the spans' pixels, moved by (dx, dy) and clipped to the surface, to one raw value.
  void FillSpans(std::span<const TSpan> spans, std::uint32_t pixel, int dx = 0, int dy = 0);
  std::uint32_t Pixel(int x, int y) const;          // 0 outside the surface
  void SetPixel(int x, int y, std::uint32_t pixel);  // ignored outside the surface

  // Direct access for sprite drawing; y must be in 0..Height-1 and there must be
  // pixels. No canvas pass may be open on the surface meanwhile.
  std::uint32_t* ScanLine(int y) {
    if (!stale_.empty()) CatchUp();
    return bits_ + static_cast<std::ptrdiff_t>(y) * stride_;
  }
  const std::uint32_t* ScanLine(int y) const {
    if (!stale_.empty()) CatchUp();
    return bits_ + static_cast<std::ptrdiff_t>(y) * stride_;
  }
  std::ptrdiff_t Stride() const { return stride_; }  // words from one line to the next
  // Whether drawings store short rows with masked 512-bit stores (where the processor has
  // them) or word by word; the pixels are the same. Tests switch it off to check the other way.
  bool MaskedRowStores() const { return maskedRowStores_; }
  void SetMaskedRowStores(bool value) { maskedRowStores_ = value && HasMaskedRowStores(); }

  // Raw value of pixels that copies with a key leave out.
  std::optional<std::uint32_t> ColorKey() const { return colorKey_; }
  void SetColorKey(std::optional<std::uint32_t> key) { colorKey_ = key; }
  // The raw value that a colour takes on this surface (clNone gives black).
  static std::uint32_t ColorMatch(TColor color) { return ColorToRgb(color) & 0x00FFFFFFu; }

  // Copies source's rectangle [left, right) x [top, bottom) with its top-left corner at
  // (x, y), clipped to both surfaces (a cut on one side cuts the other by the same
  // amount). With useKey, source pixels equal to the source's colour key are skipped.
  void CopyRect(int x, int y, const TSurface& source, int left, int top, int right, int bottom,
                bool useKey);

  TSurfaceCanvas& Canvas();
  // A deep copy of the pixels, for presenting, tests and saving.
  QImage ToImage() const {
    CatchUp();
    return image_.copy();
  }

  // After a swapping flip: gives up bringing the pixels up to date and returns the rectangles
  // where they may still differ from the presented picture, for a caller that redraws them.
  std::vector<QRect> TakeStale() { return std::exchange(stale_, {}); }

 private:
  friend class TSurfaceCanvas;
  friend class TCustomSurfaceView;

  // Copies the stale rectangles from the presented picture they lag behind.
  void CatchUp() const;
  void TakeBuffer();  // after image_ changed hands: the pointers follow it

  // The painter writes into image_ while direct access uses bits_; image_ is never
  // shared, so its buffer never moves under either.
  QImage image_;
  std::uint32_t* bits_ = nullptr;
  std::ptrdiff_t stride_ = 0;  // in words
  int width_ = 0;
  int height_ = 0;
  std::optional<std::uint32_t> colorKey_;
  bool maskedRowStores_ = HasMaskedRowStores();
  std::unique_ptr<TSurfaceCanvas> canvas_;
  // Where the pixels lag behind *staleSource_ (the view's presented picture) after a swap.
  mutable std::vector<QRect> stale_;
  const QImage* staleSource_ = nullptr;
};

enum TSurfaceViewOption : unsigned {
  doFullScreen = 1u << 0,    // not supported: views are always windowed
  doWaitVBlank = 1u << 1,    // no effect: the window system paces presentation
  doSystemMemory = 1u << 2,  // no effect: surfaces are always in ordinary memory
  doStretch = 1u << 3,       // Flip scales the surface to the control
  doCenter = 1u << 4,        // Flip centres the surface in the control
};
using TSurfaceViewOptions = unsigned;

// Screen mode for full-screen use; kept for the window's settings, never used.
struct TSurfaceViewDisplay {
  int Width = 640;
  int Height = 480;
  int BitCount = 16;
  bool FixedBitCount = true;
  bool FixedRatio = false;
  bool FixedSize = false;
};

// What a view tells the components that follow it (the sprite list).
enum class SurfaceViewNotice {
  Destroying,
  Initializing,
  Initialize,
  InitializeSurface,
  SetSurfaceSize,
  Restore,
  Finalize,
  FinalizeSurface,
};

class TCustomSurfaceView;
using SurfaceViewNotifyEvent = std::function<void(TCustomSurfaceView& view, SurfaceViewNotice notice)>;

// A widget that owns an off-screen surface and presents it. It initialises the first
// time it is shown inside a window (so never while the window is being built), and is
// then black. Flip presents the surface; repaints show the last presented picture.
// Errors of the automatic initialisation go to ReportHandlerError.
class TCustomSurfaceView : public QWidget {
  Q_OBJECT

 public:
  using TNotifyEvent = std::function<void(TCustomSurfaceView& sender)>;
  using TMouseEvent = std::function<void(TCustomSurfaceView& sender, Qt::MouseButton button,
                                         Qt::KeyboardModifiers modifiers, int x, int y)>;
  using TMouseMoveEvent = std::function<void(TCustomSurfaceView& sender, Qt::MouseButtons buttons,
                                             Qt::KeyboardModifiers modifiers, int x, int y)>;

  explicit TCustomSurfaceView(QWidget* parent = nullptr);
  ~TCustomSurfaceView() override;

  bool CanDraw() const { return initialized_ && !busy_ && surface_->HasPixels(); }
  void Flip();
  // Flip without copying, for a caller that knows where the surface changed since the last
  // Flip: `changed` must hold every pixel that differs from the presented picture. The
  // buffers are swapped, and the surface's new buffer (the picture presented before) is
  // brought up to date in `changed` when its pixels are next used, unless TakeStale on the
  // surface says the caller redraws them. Only `changed` is repainted on the screen (all of
  // the view when stretching), so the copy into the window and the window system's work
  // shrink with it; but each rectangle is a copy and a request of its own, so a few cost
  // least. Copies like Flip when there is no presented picture of the surface's size yet.
  void FlipSwapping(std::vector<QRect> changed);
  bool Initialized() const { return initialized_; }
  // Always the same object; it has pixels only while the view is initialised.
  TSurface& Surface() { return *surface_; }
  // The picture the last Flip or FlipSwapping presented, which every repaint shows; null
  // before the first.
  const QImage& Presented() const { return presented_; }

  // Throws ESurfaceViewError; leaves the view finalized on failure.
  void Initialize();
  // Runs every notice and clean-up step even if one fails; rethrows the first error.
  void Finalize();

  int SurfaceWidth() const;
  int SurfaceHeight() const;
  void SetSurfaceWidth(int value);
  void SetSurfaceHeight(int value);
  void SetSurfaceSize(int width, int height);

  bool AutoInitialize() const { return autoInitialize_; }
  void SetAutoInitialize(bool value) { autoInitialize_ = value; }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value) { autoSize_ = value; }
  TSurfaceViewOptions Options() const { return options_; }
  void SetOptions(TSurfaceViewOptions options);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TSurfaceViewDisplay Display;

  // Receivers are keyed by an address of the caller's choosing. Registering with an
  // initialised view sends Initialize and Restore at once; unregistering from one
  // sends Finalize.
  void RegisterNotifyEvent(const void* receiver, SurfaceViewNotifyEvent event);
  void UnregisterNotifyEvent(const void* receiver);

  TNotifyEvent OnInitializing;
  TNotifyEvent OnInitialize;
  TNotifyEvent OnInitializeSurface;
  TNotifyEvent OnFinalize;
  TNotifyEvent OnFinalizeSurface;
  TNotifyEvent OnRestoreSurface;
  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  // When set, makes the tooltip's text just before a tooltip is shown, for a text that
  // costs too much to keep up to date on every frame.
  std::function<QString()> OnToolTip;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Restore();
  void Notify(SurfaceViewNotice notice);
  void Present();
  void RemakeSurface();
  QRect PresentedRect() const;

  std::unique_ptr<TSurface> surface_;
  QImage presented_;  // the last picture Flip presented; repaints show it again
  std::vector<std::pair<const void*, SurfaceViewNotifyEvent>> receivers_;
  QWidget* initializedIn_ = nullptr;  // the window the view initialised in
  bool autoInitialize_ = true;
  bool autoSize_ = true;
  TSurfaceViewOptions options_ = doWaitVBlank | doCenter;
  TColor color_ = clBtnFace;
  int surfaceWidth_ = 100;
  int surfaceHeight_ = 100;
  bool triedInitialize_ = false;
  bool started_ = false;  // initialisation got past its first notice
  bool initialized_ = false;
  bool busy_ = false;
  bool calledInitialize_ = false;
  bool calledInitializeSurface_ = false;
  bool pressed_ = false;
};

class TSurfaceView : public TCustomSurfaceView {
  Q_OBJECT

 public:
  using TCustomSurfaceView::TCustomSurfaceView;
};

}  // namespace zemlix
