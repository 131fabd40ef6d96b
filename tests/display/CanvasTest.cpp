#include <algorithm>
#include <tuple>
#include <cstdint>
#include <vector>

#include <QApplication>
#include <QPalette>

#include <cstring>

#include <gtest/gtest.h>

#include "display/Colors.h"
#include "display/EllipseOutline.h"
#include "display/OutlinedText.h"
#include "display/Surfaces.h"

namespace zemlix {
namespace {

constexpr std::uint32_t kBackground = 0x123456;  // raw pixel no drawing uses
constexpr std::uint32_t kRed = 0xFF0000;         // raw 0x00RRGGBB

class CanvasTest : public testing::Test {
 protected:
  CanvasTest() : surface(40, 30) { surface.Fill(kBackground); }

  // Pixels that differ from the background, as (x, y) pairs.
  std::vector<std::pair<int, int>> Changed() const {
    std::vector<std::pair<int, int>> changed;
    for (int y = 0; y < surface.Height(); ++y) {
      for (int x = 0; x < surface.Width(); ++x) {
        if (surface.Pixel(x, y) != kBackground) changed.emplace_back(x, y);
      }
    }
    return changed;
  }

  TSurface surface;
  TSurfaceCanvas& canvas = surface.Canvas();
};

TEST(Colors, ConvertBgrToSurfacePixelsAndResolveSystemColors) {
  EXPECT_EQ(ColorToPixel(clRed), 0xFFFF0000u);
  EXPECT_EQ(ColorToPixel(clBlue), 0xFF0000FFu);
  EXPECT_EQ(ColorToPixel(0x00FFFF), 0xFFFFFF00u);  // yellow
  EXPECT_FALSE(ColorToPixel(clNone).has_value());
  EXPECT_EQ(ColorToPixel(clBtnFace), QApplication::palette().color(QPalette::Button).rgb() | 0xFF000000u);
  EXPECT_EQ(ColorToPixel(clWindowText), QApplication::palette().color(QPalette::WindowText).rgb() | 0xFF000000u);
}

TEST(Surface, FillAndPixelsUseRawValuesWithBlackAtZero) {
  TSurface surface(3, 2);
  surface.Fill(0);
  EXPECT_EQ(surface.Pixel(2, 1), 0u);
  EXPECT_EQ(surface.ScanLine(1)[2], 0xFF000000u);  // a valid opaque RGB32 word
  surface.SetPixel(1, 0, 0xABCDEF);
  EXPECT_EQ(surface.Pixel(1, 0), 0xABCDEFu);
  EXPECT_EQ(surface.ToImage().pixel(1, 0), 0xFFABCDEFu);
  surface.SetPixel(3, 0, 1);  // outside: ignored
  EXPECT_EQ(surface.Pixel(3, 0), 0u);
}

TEST(Surface, WithoutPixelsEverythingIsHarmless) {
  TSurface surface;
  EXPECT_FALSE(surface.HasPixels());
  surface.Fill(0);
  TSurfaceCanvas& canvas = surface.Canvas();
  canvas.Rectangle(0, 0, 10, 10);
  canvas.Ellipse(0, 0, 10, 10);
  canvas.MoveTo(1, 1);
  canvas.LineTo(5, 7);
  canvas.TextOut(0, 0, "L");
  EXPECT_FALSE(canvas.PassOpen());
  canvas.Release();
  EXPECT_EQ(surface.Width(), 0);
}

TEST_F(CanvasTest, RectangleOutlinesOutermostColumnsAndRowsAndFillsInside) {
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetColor(clBlue);
  canvas.Rectangle(2, 3, 8, 9);
  canvas.Release();
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) {
      const bool inside = x >= 2 && x <= 7 && y >= 3 && y <= 8;
      const bool edge = inside && (x == 2 || x == 7 || y == 3 || y == 8);
      const std::uint32_t expected = edge ? kRed : inside ? 0x0000FF : kBackground;
      ASSERT_EQ(surface.Pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(CanvasTest, FullSurfaceFrameWithNoBrushLeavesTheInsideAlone) {
  surface.Fill(0);
  canvas.Brush.SetColor(clNone);
  canvas.Pen.SetColor(clRed);
  canvas.Rectangle(0, 0, 40, 30);
  canvas.Release();
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool edge = x == 0 || x == 39 || y == 0 || y == 29;
      ASSERT_EQ(surface.Pixel(x, y), edge ? kRed : 0u) << x << "," << y;
    }
  }
}

TEST_F(CanvasTest, EmptyRectangleDrawsNothing) {
  canvas.Rectangle(0, 30, 9, 30);  // the impulse meter at zero
  canvas.Rectangle(5, 5, 5, 20);
  canvas.Release();
  EXPECT_TRUE(Changed().empty());
}

TEST(Brush, ColorAndStyleAreCoupled) {
  TBrush brush;
  EXPECT_EQ(brush.Color(), clWhite);
  EXPECT_EQ(brush.Style(), bsSolid);
  brush.SetColor(clRed);
  brush.SetStyle(bsClear);
  EXPECT_EQ(brush.Color(), clWhite);
  brush.SetColor(clBlue);
  EXPECT_EQ(brush.Style(), bsSolid);
  brush.SetColor(clRed);
  brush.SetStyle(bsSolid);
  EXPECT_EQ(brush.Color(), clRed);
}

TEST_F(CanvasTest, ClearBrushPaintsNoInterior) {
  canvas.Brush.SetStyle(bsClear);
  canvas.Pen.SetColor(clRed);
  canvas.Rectangle(0, 0, 5, 5);
  canvas.Release();
  EXPECT_EQ(surface.Pixel(2, 2), kBackground);
  EXPECT_EQ(surface.Pixel(4, 2), kRed);
}

TEST_F(CanvasTest, LineToLeavesOutTheEndPixelInEveryDirection) {
  canvas.Pen.SetColor(clRed);
  struct Line {
    int x1, y1, x2, y2;
  };
  for (const Line line : {Line{5, 5, 15, 5}, Line{15, 5, 5, 5}, Line{5, 5, 5, 15}, Line{5, 15, 5, 5},
                          Line{5, 5, 15, 15}, Line{15, 15, 5, 5}, Line{5, 5, 25, 10}}) {
    surface.Fill(kBackground);
    canvas.MoveTo(line.x1, line.y1);
    canvas.LineTo(line.x2, line.y2);
    EXPECT_EQ(canvas.PenPos(), QPoint(line.x2, line.y2));
    canvas.Release();
    EXPECT_EQ(surface.Pixel(line.x1, line.y1), kRed) << line.x1 << "," << line.y1 << " start";
    EXPECT_EQ(surface.Pixel(line.x2, line.y2), kBackground) << line.x2 << "," << line.y2 << " end";
    const int length = std::max(std::abs(line.x2 - line.x1), std::abs(line.y2 - line.y1));
    EXPECT_EQ(static_cast<int>(Changed().size()), length);
  }
}

TEST_F(CanvasTest, LinesFarOutsideTheSurfaceAreClipped) {
  canvas.Pen.SetColor(clRed);
  canvas.MoveTo(3, 10);
  canvas.LineTo(3, -2000000000);
  canvas.MoveTo(4, 10);
  canvas.LineTo(4, 2000000000);
  canvas.Release();
  EXPECT_EQ(Changed().size(), 11u + 20u);
}

TEST_F(CanvasTest, EllipseIsInscribedInTheRectangleBox) {
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetColor(clBlue);
  canvas.Ellipse(4, 6, 20, 18);
  canvas.Release();
  int minX = 99, maxX = -1, minY = 99, maxY = -1;
  for (const auto& [x, y] : Changed()) {
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  EXPECT_EQ(minX, 4);
  EXPECT_EQ(maxX, 19);
  EXPECT_EQ(minY, 6);
  EXPECT_EQ(maxY, 17);
  EXPECT_EQ(surface.Pixel(12, 12), 0x0000FFu);  // brush inside
  EXPECT_EQ(surface.Pixel(4, 6), kBackground);  // corner of the box stays
}

TEST_F(CanvasTest, EllipseWithNoBrushIsAnOutlineOnly) {
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetStyle(bsClear);
  canvas.Ellipse(0, 0, 16, 16);
  canvas.Brush.SetColor(clNone);
  canvas.Ellipse(20, 0, 36, 16);
  canvas.Release();
  EXPECT_EQ(surface.Pixel(8, 8), kBackground);
  EXPECT_EQ(surface.Pixel(28, 8), kBackground);
  for (const auto& [x, y] : Changed()) ASSERT_EQ(surface.Pixel(x, y), kRed);
  EXPECT_FALSE(Changed().empty());
}

TEST_F(CanvasTest, PainterAndDirectDrawingKeepTheirOrderWithinAPass) {
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetColor(clRed);
  canvas.Ellipse(0, 0, 20, 20);     // through the painter
  canvas.Brush.SetColor(clBlue);
  canvas.Rectangle(5, 5, 15, 15);   // written directly, over it
  canvas.Brush.SetColor(clLime);
  canvas.Ellipse(8, 8, 12, 12);     // painter again, on top
  canvas.Release();
  EXPECT_EQ(surface.Pixel(2, 10), kRed);
  EXPECT_EQ(surface.Pixel(6, 6), 0x0000FFu);
  EXPECT_EQ(surface.Pixel(10, 10), 0x00FF00u);
}

TEST_F(CanvasTest, TextWithClearBrushChangesOnlyGlyphPixelsToTheFontColor) {
  canvas.Brush.SetStyle(bsClear);
  canvas.Font.SetColor(0x00FFFF);  // yellow
  canvas.TextOut(3, 2, "Hg 8");
  const int width = canvas.TextWidth("Hg 8");
  EXPECT_EQ(canvas.PenPos(), QPoint(3 + width, 2));
  canvas.Release();
  const auto changed = Changed();
  ASSERT_FALSE(changed.empty());
  for (const auto& [x, y] : changed) {
    ASSERT_EQ(surface.Pixel(x, y), 0xFFFF00u) << x << "," << y;  // no antialiased shades
    EXPECT_GE(x, 3);
    EXPECT_LT(x, 3 + width);
    EXPECT_GE(y, 2);
    EXPECT_LT(y, 2 + canvas.TextHeight());
  }
}

// Every glyph's ink stands apart from its neighbours': as many runs of inked columns as
// glyphs with ink, and the cell as wide as TextWidth says.
TEST(CanvasText, EveryGlyphStandsApart) {
  TSurface surface(120, 20);
  TSurfaceCanvas& canvas = surface.Canvas();
  canvas.Brush.SetStyle(bsClear);
  canvas.Font.SetColor(0x00FFFF);
  for (const char* word : {"Fitness", "Ftness", "Fi", "Average", "Generation", "Total", "fiji", "LTAVWY", "rtf"}) {
    surface.Fill(kBackground);
    canvas.TextOut(2, 2, word);
    const int width = canvas.TextWidth(word);
    EXPECT_EQ(canvas.PenPos().x(), 2 + width) << word;
    canvas.Release();
    int runs = 0;
    bool previous = false;
    for (int x = 0; x < surface.Width(); ++x) {
      bool inked = false;
      for (int y = 0; y < surface.Height(); ++y) inked = inked || surface.Pixel(x, y) == 0xFFFF00u;
      if (inked) {
        EXPECT_TRUE(x >= 2 && x < 2 + width) << word << " column " << x;
      }
      runs += inked && !previous;
      previous = inked;
    }
    EXPECT_EQ(runs, static_cast<int>(std::strlen(word))) << word;
  }
}

TEST_F(CanvasTest, TextWithSolidBrushFillsTheWholeCell) {
  canvas.Brush.SetColor(clBlue);
  canvas.Font.SetColor(0x00FFFF);
  canvas.TextOut(3, 2, "Lg");
  const int width = canvas.TextWidth("Lg");
  canvas.Release();
  EXPECT_EQ(canvas.TextHeight(), 13);
  int glyphPixels = 0;
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) {
      const bool inCell = x >= 3 && x < 3 + width && y >= 2 && y < 2 + canvas.TextHeight();
      const std::uint32_t pixel = surface.Pixel(x, y);
      if (!inCell) {
        ASSERT_EQ(pixel, kBackground) << x << "," << y;
      } else if (pixel == 0xFFFF00u) {
        ++glyphPixels;
      } else {
        ASSERT_EQ(pixel, 0x0000FFu) << x << "," << y;
      }
    }
  }
  EXPECT_GT(glyphPixels, 10);
}

TEST_F(CanvasTest, SettingsOutliveReleaseButThePenPositionDoesNot) {
  canvas.Pen.SetColor(clRed);
  canvas.Brush.SetStyle(bsClear);
  canvas.Font.SetColor(clLime);
  canvas.MoveTo(10, 10);
  EXPECT_TRUE(canvas.PassOpen());
  canvas.Release();
  EXPECT_FALSE(canvas.PassOpen());
  EXPECT_EQ(canvas.PenPos(), QPoint(0, 0));
  EXPECT_EQ(&surface.Canvas(), &canvas);
  EXPECT_EQ(canvas.Pen.Color(), clRed);
  EXPECT_EQ(canvas.Brush.Style(), bsClear);
  EXPECT_EQ(canvas.Font.Color(), clLime);

  canvas.LineTo(3, 0);  // from (0, 0), the new pass's start
  canvas.Release();
  canvas.Release();  // nothing to end: no effect
  EXPECT_EQ(surface.Pixel(0, 0), kRed);
  EXPECT_EQ(surface.Pixel(2, 0), kRed);
  EXPECT_EQ(Changed().size(), 3u);
}

TEST(CanvasDefaults, BlackPenWhiteSolidBrushWindowTextFont) {
  TSurface surface(1, 1);
  TSurfaceCanvas& canvas = surface.Canvas();
  EXPECT_EQ(canvas.Pen.Color(), clBlack);
  EXPECT_EQ(canvas.Brush.Color(), clWhite);
  EXPECT_EQ(canvas.Brush.Style(), bsSolid);
  EXPECT_EQ(canvas.Font.Color(), clWindowText);
  EXPECT_EQ(canvas.Font.Face().pixelSize(), 11);
}

TEST(SurfaceLifetime, FreeingEndsAnOpenPass) {
  TSurface surface(10, 10);
  surface.Canvas().TextOut(0, 0, "x");  // painter open on the pixels
  EXPECT_TRUE(surface.Canvas().PassOpen());
  surface.Free();
  EXPECT_FALSE(surface.Canvas().PassOpen());
  ASSERT_TRUE(surface.Allocate(5, 5));
  surface.Canvas().TextOut(0, 0, "x");
  surface.Canvas().Release();
}

}  // namespace
}  // namespace zemlix

namespace zemlix {
namespace {

// Every span, moved and clipped, against a pixel-by-pixel reference: lengths around the
// 4-pixel steps the fill takes, and spans cut by every edge.
TEST(Surface, FillSpansSetsExactlyTheClippedSpans) {
  std::vector<TSpan> spans;
  for (int count = 0; count <= 19; ++count) spans.push_back({count % 5, count, count});
  for (const TSpan& cut : {TSpan{-3, 2, 5}, TSpan{-9, 3, 4}, TSpan{17, 4, 9}, TSpan{25, 5, 2}, TSpan{-2, 6, 40},
                           TSpan{3, -1, 8}, TSpan{3, 22, 8}, TSpan{0, 21, 1}})
    spans.push_back(cut);
  for (int count = 30; count <= 34; ++count) spans.push_back({-1, count - 10, count - 14});
  for (const auto& [dx, dy, masked] : {std::tuple{0, 0, true}, std::tuple{3, -2, true}, std::tuple{-5, 4, true},
                                       std::tuple{0, 0, false}, std::tuple{-5, 4, false}}) {
    TSurface surface(23, 22);
    surface.SetMaskedRowStores(masked);
    surface.Fill(kBackground);
    surface.FillSpans(spans, kRed, dx, dy);
    for (int y = 0; y < surface.Height(); ++y)
      for (int x = 0; x < surface.Width(); ++x) {
        const bool inside = std::any_of(spans.begin(), spans.end(), [&](const TSpan& span) {
          return span.Y + dy == y && span.X + dx <= x && x < span.X + dx + span.Count;
        });
        ASSERT_EQ(surface.Pixel(x, y), inside ? kRed : kBackground)
            << x << "," << y << " moved " << dx << "," << dy << (masked ? ", masked stores" : "");
      }
  }
}

// An outlined text gives the pixels of its five TextOut calls, wherever it lands and whatever
// it said before, stored as spans or as masked rows, and reports every pixel it wrote.
TEST(OutlinedText, MatchesFiveTextOutCalls) {
  struct TCase {
    const char* Text;
    TColor TextColor, OutlineColor;
    int X, Y;
  };
  const TCase cases[] = {
      {"Time To Live 1000", clYellow, 0x002222, 1, 1},
      {"Time To Live 999", clYellow, 0x002222, 1, 1},  // shorter than the text before it
      {"Fi fj AV W.W rr", clYellow, 0x002222, 2, 3},    // pairs the layout moves apart
      {"e\u0301\u0301 W\u0308 \u2019\u201d", clYellow, 0x002222, 4, 8},  // marks that reach back over a glyph
      {"Generation 12", clYellow, clNone, -7, -4},
      {"Generation 12", clNone, clRed, 3, 30},
      {"Total Fitness: 4", clWindowText, clBlue, 70, 12},  // cut at the right
      {"\u00dcber \u20ac \U0001F600 x", clYellow, 0x002222, 0, 0},
      {"", clYellow, 0x002222, 1, 1},
      {"   ", clYellow, 0x002222, 1, 1},
      {"Average Fitness of Last Generation: 0.25", clYellow, 0x002222, -40, 36},  // cut at the bottom
      {"Time To Live 77", clYellow, 0x002222, 2, 2},  // wholly inside from here on
      {"Time To Live 78", clYellow, 0x002222, 2, 2},
      {"Total Fitness: 4", clWindowText, clBlue, 1, 29},
      {"W.W rr", clNone, clRed, 60, 20},
  };
  TOutlinedText text;
  for (const bool maskedRows : {true, false}) {
    for (const TCase& c : cases) {
      const QString string = QString::fromUtf8(c.Text);
      TSurface expected(90, 44), actual(90, 44);
      actual.SetMaskedRowStores(maskedRows);
      for (TSurface* surface : {&expected, &actual}) {
        for (int y = 0; y < 44; ++y)
          for (int x = 0; x < 90; ++x) surface->SetPixel(x, y, kBackground + static_cast<std::uint32_t>((x * 7 + y) % 5));
      }
      TSurfaceCanvas& canvas = expected.Canvas();
      canvas.Brush.SetStyle(bsClear);
      canvas.Font.SetColor(c.OutlineColor);
      for (const auto& [dx, dy] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}})
        canvas.TextOut(c.X + dx, c.Y + dy, string);
      canvas.Font.SetColor(c.TextColor);
      canvas.TextOut(c.X, c.Y, string);
      canvas.Release();

      text.Set(actual.Canvas().Font, string, c.TextColor, c.OutlineColor);
      std::vector<TSpan> spans;
      const QRect box = text.Draw(actual, c.X, c.Y, &spans);
      int changed = 0;
      for (int y = 0; y < 44; ++y)
        for (int x = 0; x < 90; ++x) {
          ASSERT_EQ(actual.Pixel(x, y), expected.Pixel(x, y))
              << c.Text << " at " << x << "," << y << (maskedRows ? " in masked rows" : " in spans");
          if (actual.Pixel(x, y) == kBackground + static_cast<std::uint32_t>((x * 7 + y) % 5)) continue;
          ++changed;
          ASSERT_TRUE(box.contains(x, y)) << c.Text << " at " << x << "," << y;
          ASSERT_TRUE(std::any_of(spans.begin(), spans.end(), [&](const TSpan& span) {
            return span.Y == y && span.X <= x && x < span.X + span.Count;
          })) << c.Text << " at " << x << "," << y;
        }
      EXPECT_EQ(changed > 0, string.trimmed().size() > 0) << c.Text;
    }
  }
}

}  // namespace
}  // namespace zemlix

namespace zemlix {
namespace {

// Kept outlines give the canvas's pixels for every box size and place, cut by any edge,
// and report every pixel they wrote.
TEST(EllipseOutlines, MatchTheCanvas) {
  TEllipseOutlines outlines;
  const std::pair<int, int> sizes[] = {{14, 14}, {16, 16}, {11, 11}, {13, 13}, {15, 15}, {1, 1}, {2, 5}, {1, 9}, {20, 7}};
  for (const auto& [width, height] : sizes) {
    for (const TColor color : {TColor{0xFF0000}, TColor{0x551155}}) {
      for (int y = -17; y <= 27; y += 4) {
        for (int x = -19; x <= 35; x += 3) {
          TSurface expected(36, 26), actual(36, 26);
          expected.Fill(kBackground);
          actual.Fill(kBackground);
          TSurfaceCanvas& canvas = expected.Canvas();
          canvas.Brush.SetStyle(bsClear);
          canvas.Pen.SetColor(color);
          canvas.Ellipse(x, y, x + width, y + height);
          canvas.Release();
          std::vector<TSpan> spans;
          const QRect box = outlines.Draw(actual, x + width, y, x, y + height, color, &spans);  // either corner order
          for (int py = 0; py < 26; ++py)
            for (int px = 0; px < 36; ++px) {
              ASSERT_EQ(actual.Pixel(px, py), expected.Pixel(px, py))
                  << width << "x" << height << " at " << x << "," << y << ": " << px << "," << py;
              if (actual.Pixel(px, py) == kBackground) continue;
              ASSERT_TRUE(box.contains(px, py)) << width << "x" << height << " at " << x << "," << y;
              ASSERT_TRUE(std::any_of(spans.begin(), spans.end(), [&](const TSpan& span) {
                return span.Y == py && span.X <= px && px < span.X + span.Count;
              })) << width << "x" << height << " at " << x << "," << y;
            }
        }
      }
    }
  }
}

}  // namespace
}  // namespace zemlix
