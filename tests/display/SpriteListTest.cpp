#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include "display/Resources.h"
#include "display/SpriteList.h"
#include "display/Surfaces.h"

namespace zemlix {
namespace {

constexpr std::uint32_t kBackground = 0x123456;
constexpr std::uint32_t kWhite = 0xFFFFFF;

// The pictures as their tables give them; letters stand for colours (raw 0x00RRGGBB).
const std::map<char, std::uint32_t> kPalette = {{'W', 0xFFFFFF}, {'G', 0x00FF00}, {'B', 0x0080C0},
                                                {'P', 0xE00080}, {'M', 0x800000}, {'O', 0x808040},
                                                {'Y', 0xE0E080}};
const std::map<std::string, std::vector<std::string>> kTables = {
    {"Creature",
     {"WWWWGWWWW", "WWWGGGWWW", "WWWGBGWWW", "WWGGBGGWW", "WWGGBGGWW", "WGGGBGGGW", "WGGGBGGGW", "GGGGBGGGG",
      "GGBBBBBGG"}},
    {"Food",
     {"WWMPPPMWW", "WPPMWMPPW", "MPWWWWWPM", "PMWWWWWMP", "PWWWWWWWP", "PMWWWWWMP", "MPWWWWWPM", "WPPMWMPPW",
      "WWMPPPMWW"}},
    {"Poision",
     {"WWWWWWWWW", "WWOWWWOWW", "WOYOWOYOW", "WWOYOYOWW", "WWWOYOWWW", "WWOYOYOWW", "WOYOWOYOW", "WWOWWWOWW",
      "WWWWWWWWW"}},
};

std::uint32_t TablePixel(const std::string& name, int column, int row) {
  return kPalette.at(kTables.at(name)[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]);
}

TEST(Resources, PicturesHaveTheTablesPixels) {
  for (const auto& [name, rows] : kTables) {
    const QImage picture = StandardSpritePicture(name);
    ASSERT_EQ(picture.size(), QSize(9, 9)) << name;
    EXPECT_LE(picture.colorCount(), 256) << name;
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 9; ++x) {
        ASSERT_EQ(picture.pixel(x, y) & 0xFFFFFFu, TablePixel(name, x, y)) << name << " " << x << "," << y;
      }
    }
  }
  EXPECT_TRUE(StandardSpritePicture("Bug").isNull());
}

TEST(Resources, IconAndPauseGlyph) {
  const QImage icon = WindowIconPicture();
  ASSERT_EQ(icon.size(), QSize(32, 32));
  int black = 0, white = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb pixel = icon.pixel(x, y);
      if (qAlpha(pixel) == 0) continue;
      if ((pixel & 0xFFFFFFu) == 0) ++black;
      else if ((pixel & 0xFFFFFFu) == 0xFFFFFFu) ++white;
      else ADD_FAILURE() << "not black or white at " << x << "," << y;
    }
  }
  EXPECT_GT(black, 50);
  EXPECT_GT(white, 50);

  const QImage glyph = PauseGlyphPicture();
  ASSERT_EQ(glyph.size(), QSize(20, 15));
  int grey = 0;
  for (int y = 0; y < 15; ++y) {
    for (int x = 0; x < 20; ++x) {
      const QRgb pixel = glyph.pixel(x, y) & 0xFFFFFFu;
      ASSERT_TRUE(pixel == 0 || pixel == 0x808080u) << x << "," << y;
      grey += pixel == 0x808080u;
    }
  }
  EXPECT_GT(grey, 0);
  // Two bars: a row through the middle crosses grey twice.
  int runs = 0;
  for (int x = 0; x < 20; ++x) runs += (glyph.pixel(x, 7) & 0xFFFFFFu) != 0 && (x == 0 || (glyph.pixel(x - 1, 7) & 0xFFFFFFu) == 0);
  EXPECT_EQ(runs, 2);
  const QImage transparent = PauseGlyphTransparentPicture();
  EXPECT_EQ(qAlpha(transparent.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(transparent.pixel(7, 7)), 255);
}

TEST(SpriteCollection, IndexOutOfBoundsIsAListError) {
  TSpriteList list;
  LoadStandardSprites(list.Items());
  ASSERT_EQ(list.Items().Count(), 3);
  EXPECT_EQ(list.Items()[2].Name(), "Poision");
  EXPECT_EQ(list.Items().IndexOf("Food"), 1);
  try {
    list.Items().Items(3);
    FAIL() << "no error";
  } catch (const EListError& error) {
    EXPECT_STREQ(error.what(), "List index out of bounds (3)");
  }
  EXPECT_THROW(list.Items()[-1], EListError);
}

bool Covers(const std::vector<TSpan>& spans, int x, int y) {
  return std::any_of(spans.begin(), spans.end(),
                     [&](const TSpan& span) { return span.Y == y && span.X <= x && x < span.X + span.Count; });
}

// Sprites bound to a shown view, drawn onto a separate destination surface.
class SpriteDrawingTest : public testing::Test {
 protected:
  SpriteDrawingTest() : dest(20, 20) {
    window = std::make_unique<QWidget>();
    view = new TSurfaceView(window.get());
    view->resize(20, 20);
    LoadStandardSprites(sprites.Items());
    sprites.SetView(view);
    window->show();
    dest.Fill(kBackground);
  }

  TSprite& Creature() { return sprites.Items()[0]; }
  TSprite& Food() { return sprites.Items()[1]; }

  std::unique_ptr<QWidget> window;
  TSurfaceView* view = nullptr;
  TSpriteList sprites;
  TSurface dest;
};

// Expected content at a destination pixel: the picture's pixel, or the background
// where the picture is white or outside.
std::uint32_t Expected(const std::string& name, int column, int row) {
  if (column < 0 || row < 0 || column > 8 || row > 8) return kBackground;
  const std::uint32_t pixel = TablePixel(name, column, row);
  return pixel == kWhite ? kBackground : pixel;
}

TEST_F(SpriteDrawingTest, DrawCopiesOneToOneLeavingWhiteOut) {
  Food().Draw(dest, 5, 6, 0);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ASSERT_EQ(dest.Pixel(x, y), Expected("Food", x - 5, y - 6)) << x << "," << y;
  }
}

TEST_F(SpriteDrawingTest, DrawIsClippedAtTheEdges) {
  Food().Draw(dest, -3, 15, 0);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ASSERT_EQ(dest.Pixel(x, y), Expected("Food", x + 3, y - 15)) << x << "," << y;
  }
}

TEST_F(SpriteDrawingTest, DrawReportsSpansCoveringWhatItWrote) {
  for (const bool keeps : {true, false}) {
    Food().SetKeepsPictures(keeps);
    for (const auto& [x, y] : {std::pair{5, 6}, std::pair{-4, -3}, std::pair{15, 14}, std::pair{-6, 17}}) {
      dest.Fill(kBackground);
      std::vector<TSpan> spans;
      Food().Draw(dest, x, y, 0, &spans);
      int written = 0;
      for (int py = 0; py < 20; ++py)
        for (int px = 0; px < 20; ++px) {
          if (dest.Pixel(px, py) == kBackground) continue;
          ++written;
          ASSERT_TRUE(Covers(spans, px, py)) << keeps << " at " << x << "," << y << ": " << px << "," << py;
        }
      EXPECT_GT(written, 0) << x << "," << y;
    }
  }
}

TEST_F(SpriteDrawingTest, DrawsNothingOutsideOrWithABadPattern) {
  Food().Draw(dest, 20, 0, 0);
  Food().Draw(dest, 0, 20, 0);
  Food().Draw(dest, -9, 0, 0);
  Food().Draw(dest, 0, 0, 1);
  Food().Draw(dest, 0, 0, -1);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ASSERT_EQ(dest.Pixel(x, y), kBackground);
  }
}

TEST_F(SpriteDrawingTest, NothingIsDrawnWhileTheViewIsNotInitialized) {
  view->Finalize();
  Creature().Draw(dest, 5, 5, 0);
  Creature().DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, 0);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ASSERT_EQ(dest.Pixel(x, y), kBackground);
  }
}

// dest pixel (X - 4 + i, Y - 4 + j) for i, j in 0..7 comes from picture pixel
// source(i, j); nothing outside that 8 x 8 block changes.
template <typename Source>
void ExpectBlock(const TSurface& dest, int centerX, int centerY, Source source) {
  for (int y = 0; y < dest.Height(); ++y) {
    for (int x = 0; x < dest.Width(); ++x) {
      const int i = x - (centerX - 4);
      const int j = y - (centerY - 4);
      std::uint32_t expected = kBackground;
      if (i >= 0 && i < 8 && j >= 0 && j < 8) {
        const auto [column, row] = source(i, j);
        expected = Expected("Creature", column, row);
      }
      ASSERT_EQ(dest.Pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(SpriteDrawingTest, DrawRotateAtAngleZeroIsTheWorkedExample) {
  Creature().DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, 0);
  // Rows and columns 0..7 of the picture, its pixel (4, 4) on (10, 10).
  ExpectBlock(dest, 10, 10, [](int i, int j) { return std::pair{i, j}; });
}

TEST_F(SpriteDrawingTest, DrawRotateTurnsClockwiseByQuarters) {
  // A quarter turn clockwise: the arrow's tip (row 0) points to +x.
  Creature().DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, 64);
  ExpectBlock(dest, 10, 10, [](int i, int j) { return std::pair{j, 8 - i}; });
  EXPECT_EQ(dest.Pixel(13, 10), 0x00FF00u);  // head green at the right end of the stem
  EXPECT_EQ(dest.Pixel(6, 10), 0x0080C0u);   // foot bar on the left

  dest.Fill(kBackground);
  Creature().DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, 128);  // tip points down
  ExpectBlock(dest, 10, 10, [](int i, int j) { return std::pair{8 - i, 8 - j}; });

  dest.Fill(kBackground);
  Creature().DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, 192);  // tip points left
  ExpectBlock(dest, 10, 10, [](int i, int j) { return std::pair{8 - j, i}; });
}

TEST_F(SpriteDrawingTest, DrawRotateOnlyUsesTheAngleModulo256) {
  const auto drawn = [&](int angle) {
    TSurface surface(20, 20);
    surface.Fill(kBackground);
    Creature().DrawRotate(surface, 10, 10, 9, 9, 0, 0.5, 0.5, angle);
    return surface.ToImage();
  };
  EXPECT_EQ(drawn(256), drawn(0));
  EXPECT_EQ(drawn(-64), drawn(192));
  EXPECT_EQ(drawn(-128), drawn(128));
  EXPECT_EQ(drawn(INT32_MIN), drawn(0));
  EXPECT_NE(drawn(32), drawn(0));
}

TEST_F(SpriteDrawingTest, DrawRotateWithZeroSizeDrawsNothing) {
  Creature().DrawRotate(dest, 10, 10, 0, 9, 0, 0.5, 0.5, 0);
  Creature().DrawRotate(dest, 10, 10, 9, 0, 0, 0.5, 0.5, 0);
  Creature().DrawRotate(dest, 10, 10, 9, 9, 1, 0.5, 0.5, 0);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ASSERT_EQ(dest.Pixel(x, y), kBackground);
  }
}

// Near an edge the drawing is the unclipped drawing cut off: compare with the same
// sprite drawn in the middle of a larger surface.
TEST_F(SpriteDrawingTest, DrawRotateIsClippedAtTheSurfaceEdgesWithoutWrapping) {
  constexpr int kMargin = 20;
  for (int angle = 0; angle < 256; angle += 7) {
    for (const auto& [x, y] : {std::pair{0, 20}, std::pair{19, 0}, std::pair{-3, -2}, std::pair{22, 17},
                               std::pair{2, 10}, std::pair{10, 19}}) {
      TSurface edge(20, 20);
      TSurface large(20 + 2 * kMargin, 20 + 2 * kMargin);
      edge.Fill(kBackground);
      large.Fill(kBackground);
      Creature().DrawRotate(edge, x, y, 9, 9, 0, 0.5, 0.5, angle);
      Creature().DrawRotate(large, x + kMargin, y + kMargin, 9, 9, 0, 0.5, 0.5, angle);
      for (int py = 0; py < 20; ++py) {
        for (int px = 0; px < 20; ++px) {
          ASSERT_EQ(edge.Pixel(px, py), large.Pixel(px + kMargin, py + kMargin))
              << "angle " << angle << " at " << x << "," << y << " pixel " << px << "," << py;
        }
      }
    }
  }
}

// A sprite keeps what a turn needs per angle: whatever it drew before at that angle (other
// sizes, centres, positions, cut or not), a drawing matches a fresh sprite list's.
TEST_F(SpriteDrawingTest, DrawRotateIsTheSameWhateverWasDrawnBefore) {
  struct TCase {
    int X, Y, Width, Height;
    double CenterX, CenterY;
  };
  const TCase cases[] = {{10, 10, 9, 9, 0.5, 0.5}, {10, 10, 7, 9, 0.5, 0.5}, {10, 10, 9, 9, 0.25, 0.5},
                         {11, 9, 9, 5, 0.5, 0.75}, {1, 2, 9, 9, 0.5, 0.5},   {18, 19, 9, 9, 0.5, 0.5},
                         {10, 10, 9, 9, 0.5, 0.5}, {10, 10, -9, 9, 0.5, 0.5}};
  for (int angle : {0, 37, 64, 200, -56}) {
    for (const TCase& c : cases) {
      TSpriteList fresh;
      LoadStandardSprites(fresh.Items());
      fresh.SetView(view);
      TSurface warm(20, 20), cold(20, 20);
      warm.Fill(kBackground);
      cold.Fill(kBackground);
      Creature().DrawRotate(warm, c.X, c.Y, c.Width, c.Height, 0, c.CenterX, c.CenterY, angle);
      fresh.Items()[0].DrawRotate(cold, c.X, c.Y, c.Width, c.Height, 0, c.CenterX, c.CenterY, angle);
      for (int py = 0; py < 20; ++py)
        for (int px = 0; px < 20; ++px)
          ASSERT_EQ(warm.Pixel(px, py), cold.Pixel(px, py))
              << "angle " << angle << ", " << c.Width << "x" << c.Height << " at " << c.X << "," << c.Y;
    }
  }
}

// Kept turned pictures give the row-by-row sampler's pixels and a rectangle holding all of
// them, wherever the drawing lands (cut at each edge or not), and follow key changes.
// The spans a drawing reports cover every pixel it wrote, clipped or not, kept or sampled.
TEST_F(SpriteDrawingTest, KeptTurnedPicturesMatchTheRowByRowDrawing) {
  struct TCase {
    int Width, Height;
    double CenterX, CenterY;
  };
  const TCase cases[] = {{9, 9, 0.5, 0.5}, {7, 11, 0.25, 0.5}, {-9, 9, 0.5, 0.75}, {13, -5, 1.5, -0.5}};
  const int places[] = {-7, -2, 0, 3, 10, 17, 19, 25};
  TSpriteList reference;
  LoadStandardSprites(reference.Items());
  reference.SetView(view);
  for (auto& sprite : {&reference.Items()[0], &reference.Items()[1]}) sprite->SetKeepsPictures(false);
  // Cases outermost, so every angle's picture of the last case is kept when a key changes.
  bool maskedStores = true;
  const auto compare = [&](int index, const std::string& what, std::size_t firstCase) {
    for (std::size_t i = firstCase; i < std::size(cases); ++i) {
      const TCase& c = cases[i];
      for (int angle = 0; angle < 256; ++angle) {
        for (const int x : places) {
          for (const int y : {-3, 0, 9, 18, 21}) {
            TSurface kept(20, 20), sampled(20, 20);
            kept.SetMaskedRowStores(maskedStores);
            kept.Fill(kBackground);
            sampled.Fill(kBackground);
            std::vector<TSpan> keptSpans, sampledSpans;
            const QRect box = sprites.Items()[index].DrawRotate(kept, x, y, c.Width, c.Height, 0, c.CenterX,
                                                                c.CenterY, angle, &keptSpans);
            reference.Items()[index].DrawRotate(sampled, x, y, c.Width, c.Height, 0, c.CenterX, c.CenterY, angle,
                                                &sampledSpans);
            for (int py = 0; py < 20; ++py)
              for (int px = 0; px < 20; ++px) {
                ASSERT_EQ(kept.Pixel(px, py), sampled.Pixel(px, py))
                    << what << (maskedStores ? " (masked stores)" : "") << " angle " << angle << ", " << c.Width << "x" << c.Height << " at " << x << "," << y;
                if (kept.Pixel(px, py) != kBackground) {
                  ASSERT_TRUE(box.contains(px, py)) << what << " " << angle;
                  ASSERT_TRUE(Covers(keptSpans, px, py) && Covers(sampledSpans, px, py))
                      << what << " angle " << angle << " at " << x << "," << y << ": " << px << "," << py;
                }
              }
          }
        }
      }
    }
  };
  const std::size_t lastCase = std::size(cases) - 1;
  maskedStores = false;
  compare(1, "food", 0);
  compare(0, "creature", 0);
  maskedStores = true;  // where the processor has them; else the same again
  compare(1, "food", 0);
  compare(0, "creature", 0);
  for (auto& sprite : {&Creature(), &reference.Items()[0]}) sprite->SetTransparentColor(0x00FF00);
  compare(0, "green key", lastCase);
  for (auto& sprite : {&Creature(), &reference.Items()[0]}) sprite->SetTransparent(false);
  compare(0, "no key", lastCase);
}

TEST_F(SpriteDrawingTest, WhiteIsNeverWrittenAtAnyAngle) {
  for (int index = 0; index < 3; ++index) {
    for (int angle = 0; angle < 256; ++angle) {
      dest.Fill(kBackground);
      sprites.Items()[index].DrawRotate(dest, 10, 10, 9, 9, 0, 0.5, 0.5, angle);
      bool drewSomething = false;
      for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
          const std::uint32_t pixel = dest.Pixel(x, y);
          ASSERT_NE(pixel, kWhite) << "sprite " << index << " angle " << angle;
          drewSomething |= pixel != kBackground;
        }
      }
      EXPECT_TRUE(drewSomething || index == 2) << "sprite " << index << " angle " << angle;
    }
  }
}

TEST_F(SpriteDrawingTest, SpriteKeyFollowsTransparentColor) {
  Creature().SetTransparentColor(0x00FF00);  // green out, white in
  Creature().Draw(dest, 0, 0, 0);
  EXPECT_EQ(dest.Pixel(0, 0), kWhite);
  EXPECT_EQ(dest.Pixel(4, 0), kBackground);
  dest.Fill(kBackground);
  Creature().SetTransparent(false);
  Creature().Draw(dest, 0, 0, 0);
  EXPECT_EQ(dest.Pixel(4, 0), 0x00FF00u);
}

// Three 3-pixel-wide patterns of different colours on one picture: drawing the
// middle one must never show the other two, whatever the arguments.
TEST_F(SpriteDrawingTest, DrawRotateNeverReadsOutsideThePattern) {
  QImage strip(9, 3, QImage::Format_RGB32);
  for (int x = 0; x < 9; ++x) {
    const QRgb color = x < 3 ? 0xFFFF0000u : x < 6 ? 0xFF00FF00u : 0xFF0000FFu;
    for (int y = 0; y < 3; ++y) strip.setPixel(x, y, color);
  }
  TSprite& sprite = sprites.Items().Add();
  sprite.SetPatternWidth(3);
  sprite.SetPatternHeight(3);
  sprite.SetPicture(strip);
  ASSERT_EQ(sprite.PatternCount(), 3);
  EXPECT_EQ(sprite.Pattern(1).Left, 3);

  int drawn = 0;
  for (int angle = -8; angle < 264; angle += 4) {
    for (const double center : {-2.0, -1.0, -0.3, 0.0, 0.5, 1.0, 1.7, 3.0}) {
      for (const int size : {-7, -1, 1, 2, 3, 5, 13}) {
        dest.Fill(kBackground);
        sprite.DrawRotate(dest, 10, 10, size, 9 - size, 1, center, 1.0 - center, angle);
        for (int y = 0; y < 20; ++y) {
          for (int x = 0; x < 20; ++x) {
            const std::uint32_t pixel = dest.Pixel(x, y);
            ASSERT_TRUE(pixel == kBackground || pixel == 0x00FF00u)
                << "angle " << angle << " center " << center << " size " << size;
            drawn += pixel == 0x00FF00u;
          }
        }
      }
    }
  }
  EXPECT_GT(drawn, 0);
}

TEST_F(SpriteDrawingTest, DrawRotateSurvivesExtremeArguments) {
  const int values[] = {INT32_MIN, -100000, -9, 0, 9, 100000, INT32_MAX};
  const double centers[] = {-1e300, -0.5, 0.5, 1e300, std::numeric_limits<double>::quiet_NaN()};
  for (const int x : values) {
    for (const int size : values) {
      for (const double center : centers) {
        Creature().DrawRotate(dest, x, 10, size, 9, 0, center, 0.5, 37);
        Creature().DrawRotate(dest, 10, x, 9, size, 0, 0.5, center, -91);
      }
    }
  }
  // Whatever was drawn is picture colour; the sanitizers watch the memory accesses.
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const std::uint32_t pixel = dest.Pixel(x, y);
      ASSERT_TRUE(pixel == kBackground || pixel == 0x00FF00u || pixel == 0x0080C0u) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace zemlix
