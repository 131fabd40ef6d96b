#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>
#include <QRect>

#include "display/Colors.h"
#include "display/Surfaces.h"

namespace zemlix {

// Opaque pixels as runs relative to a drawing's origin: Count pixels from pixels[First] go to
// row Dy from column Dx.
struct TPixelRun {
  std::int32_t Dx = 0, Dy = 0, Count = 0;
  std::uint32_t First = 0;
};
// Copies runs with (x, y) as their origin, clipped to dest (which has pixels); returns a
// rectangle holding every pixel written.
QRect CopyClippedRuns(TSurface& dest, int x, int y, std::span<const TPixelRun> runs, const std::uint32_t* pixels);

class TCustomSpriteList;
class TSpriteCollection;

// One pattern: a rectangle [Left, Right) x [Top, Bottom) on one of the sprite's surfaces.
struct TSpritePattern {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  const TSurface* Surface = nullptr;
};

// A picture cut into patterns, with its own surfaces while its list's view is
// initialised. Draw and DrawRotate silently draw nothing before that, for a pattern
// index out of range, and wherever clipping leaves nothing. Both write the destination
// directly: no canvas pass may be open on it.
class TSprite {
 public:
  explicit TSprite(TSpriteCollection& collection);
  TSprite(const TSprite&) = delete;
  TSprite& operator=(const TSprite&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int PatternHeight() const { return patternHeight_; }
  void SetPatternHeight(int value);
  int PatternWidth() const { return patternWidth_; }
  void SetPatternWidth(int value);
  const QImage& Picture() const { return picture_; }
  void SetPicture(QImage picture);
  int SkipHeight() const { return skipHeight_; }
  void SetSkipHeight(int value);
  int SkipWidth() const { return skipWidth_; }
  void SetSkipWidth(int value);
  bool SystemMemory() const { return systemMemory_; }
  void SetSystemMemory(bool value) { systemMemory_ = value; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) {
    transparent_ = value;
    ++picturesVersion_;
  }
  TColor TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(TColor color);

  bool Initialized() const { return initialized_; }
  int PatternCount() const { return static_cast<int>(patterns_.size()); }
  // Throws EListError for an index outside 0..PatternCount-1.
  const TSpritePattern& Pattern(int index) const;

  // Pattern's top-left corner at (x, y) of dest, 1:1. Both drawings append to `written`, when
  // given, spans that cover every pixel they wrote.
  void Draw(TSurface& dest, int x, int y, int patternIndex, std::vector<TSpan>* written = nullptr) const;
  // Pattern scaled to width x height, its point (centerX * width, centerY * height) on
  // (x, y), turned by angle / 256 of a full turn clockwise (y grows downwards). Never
  // reads outside the pattern nor writes outside dest, whatever the arguments. Returns a
  // rectangle of dest that holds every pixel written (empty if none was).
  QRect DrawRotate(TSurface& dest, int x, int y, int width, int height, int patternIndex, double centerX,
                   double centerY, int angle, std::vector<TSpan>* written = nullptr) const;
  // Whether Draw and DrawRotate keep each pattern's (and angle's) opaque pixels and copy
  // them (the default), or go through the pattern pixel by pixel every time. A turn does
  // not depend on where it lands, so both give the same pixels; the second is the reference
  // the first is tested against.
  bool KeepsPictures() const { return keepsPictures_; }
  // Asks the processor for a kept turned picture's rows ahead of a DrawRotate by `angle`, for a
  // caller that draws many: each turn's picture lies apart in memory. Changes nothing.
  void PrefetchTurn(int angle) const;
  void SetKeepsPictures(bool value) { keepsPictures_ = value; }

  // Life cycle, driven by the collection.
  void Initialize();
  void Restore();  // makes the surfaces and patterns
  void Finalize();

 private:
  void RemakeIfInitialized();

  struct TRowSpan {
    bool Draws = false;
    std::int64_t Skip = 0, U = 0, V = 0, Count = 0;
  };
  static TRowSpan RowSpan(std::int64_t u, std::int64_t v, std::int64_t dux, std::int64_t dvx, std::int64_t leftEdge,
                          std::int64_t rightEdge, std::int64_t topEdge, std::int64_t bottomEdge);

  using TRun = TPixelRun;
  struct TKeptPixels {
    std::vector<TRun> Runs;
    std::vector<std::uint32_t> Pixels;
    std::vector<TSpan> Rows;  // each row from its first opaque pixel to its last, in row order
    int Left = 0, Top = 0, Right = -1, Bottom = -1;  // the runs' bounding box, inclusive
    // For pictures at most 16 pixels wide: the rows again, relative to (Left, Top), as masked
    // rows of up to 16 pixels, each row's words from its First in RowPixels (at least 16
    // readable words from every First).
    std::vector<TMaskedRow> MaskedRows;
    std::vector<std::uint32_t> RowPixels;
    void Add(int dx, int dy, std::uint32_t pixel, bool newRun);
    void MakeMaskedRows();  // once every pixel is added
    void Clear() { *this = TKeptPixels{}; }
  };
  struct TKeptPattern {
    std::uint64_t Version = 0;  // picturesVersion_ when made; 0: not made
    TKeptPixels Picture;
  };
  static QRect CopyRuns(TSurface& dest, int x, int y, const TKeptPixels& kept, std::vector<TSpan>* written);

  struct TTurn {
    bool Known = false;
    int Width = 0, Height = 0;  // the angle modulo 256 is the entry's index
    double CenterX = 0, CenterY = 0;
    std::int64_t SourceWidth = 0, SourceHeight = 0;
    bool BoxExists = false;  // false: the drawing is refused
    std::int64_t MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
    std::int64_t DuX = 0, DvX = 0, DuY = 0, DvY = 0;
    bool StartExists = false;
    std::int64_t U0 = 0, V0 = 0;
    // The rows' spans when the box is not cut at its top or left, for a pattern at RowsLeft, RowsTop.
    bool RowsKnown = false;
    std::int64_t RowsLeft = 0, RowsTop = 0;
    std::vector<TRowSpan> Rows;
    // The turned picture's opaque pixels; valid while PictureVersion is the sprite's
    // picturesVersion_ (0: not made).
    std::uint64_t PictureVersion = 0;
    const TSurface* PictureSource = nullptr;
    TKeptPixels Picture;
  };
  TTurn& Turn(int width, int height, double centerX, double centerY, int angle, std::int64_t sourceWidth,
                    std::int64_t sourceHeight) const;

  void KeepRows(TTurn& turn, std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) const;
  void KeepPicture(TTurn& turn, const TSpritePattern& pattern) const;

  TSpriteCollection& collection_;
  std::string name_;
  int patternHeight_ = 0;
  int patternWidth_ = 0;
  QImage picture_;
  int skipHeight_ = 0;
  int skipWidth_ = 0;
  bool systemMemory_ = false;
  bool transparent_ = true;
  TColor transparentColor_ = clWhite;
  bool initialized_ = false;
  std::vector<TSpritePattern> patterns_;
  std::vector<std::unique_ptr<TSurface>> surfaces_;
  mutable std::array<TTurn, 256> turns_{};  // by angle mod 256
  mutable std::vector<TKeptPattern> keptPatterns_;  // by pattern index
  bool keepsPictures_ = true;
  // Changes whenever the pixels a turned picture was made from may have: new surfaces, a
  // new key, transparency switched.
  std::uint64_t picturesVersion_ = 1;
};

// The sprites of a list, zero-based. Counts as initialised while bound to an
// initialised view.
class TSpriteCollection {
 public:
  explicit TSpriteCollection(TCustomSpriteList& owner) : owner_(owner) {}
  TSpriteCollection(const TSpriteCollection&) = delete;
  TSpriteCollection& operator=(const TSpriteCollection&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Throws EListError "List index out of bounds (%d)".
  TSprite& Items(int index);
  const TSprite& Items(int index) const;
  TSprite& operator[](int index) { return Items(index); }
  TSprite& Add();
  void Clear();
  // -1 when no sprite has that name.
  int IndexOf(std::string_view name) const;

  TCustomSpriteList& Owner() const { return owner_; }
  TCustomSurfaceView* View() const { return view_; }
  bool Initialized() const { return view_ != nullptr && view_->Initialized(); }

  // Binds to the view; throws ESpriteCollectionError if the view is not initialised.
  void Initialize(TCustomSurfaceView& view);
  void Restore();
  void Finalize();

 private:
  TCustomSpriteList& owner_;
  TCustomSurfaceView* view_ = nullptr;
  std::vector<std::unique_ptr<TSprite>> items_;
};

// A list of sprites whose surfaces follow a view's life: made when it initialises,
// dropped when it finalizes. View becomes null when the view is destroyed.
class TCustomSpriteList {
 public:
  TCustomSpriteList();
  virtual ~TCustomSpriteList();
  TCustomSpriteList(const TCustomSpriteList&) = delete;
  TCustomSpriteList& operator=(const TCustomSpriteList&) = delete;

  TCustomSurfaceView* View() const { return view_; }
  void SetView(TCustomSurfaceView* view);
  TSpriteCollection& Items() { return items_; }
  const TSpriteCollection& Items() const { return items_; }

 private:
  void ViewNotice(TCustomSurfaceView& view, SurfaceViewNotice notice);

  TCustomSurfaceView* view_ = nullptr;
  TSpriteCollection items_;
};

class TSpriteList : public TCustomSpriteList {
 public:
  using TCustomSpriteList::TCustomSpriteList;
};

// Fills the list with the window's three pictures, in order: "Creature", "Food",
// "Poision"; whole-picture patterns, white transparent, ordinary memory.
void LoadStandardSprites(TSpriteCollection& items);

}  // namespace zemlix
