#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include "display/HandlerErrors.h"
#include "display/SpriteList.h"
#include "display/Surfaces.h"

namespace zemlix {
namespace {

class SurfaceViewTest : public testing::Test {
 protected:
  SurfaceViewTest() {
    SetErrorReporter([this](const std::string& message) { reports.push_back(message); });
    window = std::make_unique<QWidget>();
    window->resize(100, 80);
    view = new TSurfaceView(window.get());
    view->setGeometry(10, 10, 40, 30);
  }
  ~SurfaceViewTest() override {
    window.reset();
    SetErrorReporter(nullptr);
  }

  // What the widget shows, rendered through its paint event.
  QImage OnScreen() { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // What the window's buffer holds where the view is: every paint since it was shown, each
  // limited to the region it was asked for, as the screen would show it.
  QImage InWindowBuffer() {
    QCoreApplication::processEvents();
    return window->screen()
        ->grabWindow(window->winId(), view->x(), view->y(), view->width(), view->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }

  std::vector<std::string> reports;
  std::unique_ptr<QWidget> window;
  TSurfaceView* view = nullptr;  // owned by window
};

TEST_F(SurfaceViewTest, NotDrawableBeforeItsWindowIsShownAndBlackAfter) {
  EXPECT_FALSE(view->CanDraw());
  EXPECT_FALSE(view->Initialized());
  EXPECT_EQ(view->SurfaceWidth(), 40);
  EXPECT_EQ(view->SurfaceHeight(), 30);
  // Drawing on it now is dropped, not a crash.
  view->Surface().Fill(0);
  view->Surface().Canvas().Rectangle(0, 0, 10, 10);
  view->Surface().Canvas().Release();
  view->Flip();

  window->show();
  EXPECT_TRUE(view->CanDraw());
  EXPECT_EQ(view->SurfaceWidth(), 40);
  EXPECT_EQ(view->Surface().Width(), 40);
  EXPECT_EQ(view->Surface().Height(), 30);
  const QImage shown = OnScreen();
  ASSERT_EQ(shown.size(), QSize(40, 30));
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) ASSERT_EQ(shown.pixel(x, y), 0xFF000000u) << x << "," << y;
  }
  EXPECT_TRUE(reports.empty());
}

TEST_F(SurfaceViewTest, RepaintShowsTheLastFlipNotWorkInProgress) {
  window->show();
  TSurface& surface = view->Surface();
  surface.Fill(0x0000FF);
  view->Flip();
  surface.Fill(0xFF0000);  // drawn but not presented
  const QImage shown = OnScreen();
  EXPECT_EQ(shown.pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(shown.pixel(39, 29), 0xFF0000FFu);
  view->Flip();
  EXPECT_EQ(OnScreen().pixel(5, 5), 0xFFFF0000u);
}

// After a swapping flip the screen shows the new picture at once, and the surface reads as
// that picture through every way in, although its buffer is the old one until then; a caller
// that redraws gets the stale rectangles instead and finds the old picture there.
TEST_F(SurfaceViewTest, SwappingFlipPresentsAndTheSurfaceCatchesUpOnUse) {
  window->show();
  TSurface& surface = view->Surface();
  const QRect changed(5, 6, 7, 8);
  const auto flipOverBlue = [&] {
    surface.Fill(0x0000FF);
    view->Flip();
    for (int y = changed.top(); y <= changed.bottom(); ++y)
      for (int x = changed.left(); x <= changed.right(); ++x) surface.SetPixel(x, y, 0x00FF00);
    view->FlipSwapping({changed, QRect(30, 25, 50, 50)});  // reaching out: clipped
    ASSERT_EQ(OnScreen().pixel(6, 7), 0xFF00FF00u);
    ASSERT_EQ(view->Presented().pixel(4, 7), 0xFF0000FFu);
  };
  TSurface copy(40, 30);
  struct TReader {
    std::string Name;
    std::function<std::uint32_t()> Read;  // at (6, 7)
    std::uint32_t Expected;
  };
  const TReader readers[] = {
      {"Pixel", [&] { return surface.Pixel(6, 7); }, 0x00FF00u},
      {"ToImage", [&] { return surface.ToImage().pixel(6, 7) & 0xFFFFFFu; }, 0x00FF00u},
      {"ScanLine", [&] { return surface.ScanLine(7)[6] & 0xFFFFFFu; }, 0x00FF00u},
      {"CopyRect", [&] {
         copy.CopyRect(0, 0, surface, 0, 0, 40, 30, false);
         return copy.Pixel(6, 7);
       }, 0x00FF00u},
      // Drawn by the painter over the stale part: catching up later must not undo it.
      {"Canvas", [&] {
         TSurfaceCanvas& canvas = surface.Canvas();
         canvas.Brush.SetColor(clRed);
         canvas.Pen.SetColor(clRed);
         canvas.Ellipse(2, 3, 11, 12);
         canvas.Release();
         return surface.Pixel(6, 7);
       }, 0xFF0000u},
  };
  for (const TReader& reader : readers) {
    flipOverBlue();
    EXPECT_EQ(reader.Read(), reader.Expected) << reader.Name;
    EXPECT_EQ(surface.Pixel(11, 13), 0x00FF00u) << reader.Name;
    EXPECT_EQ(surface.Pixel(20, 20), 0x0000FFu) << reader.Name;
    EXPECT_TRUE(surface.TakeStale().empty()) << reader.Name;
  }
  flipOverBlue();
  const std::vector<QRect> stale = surface.TakeStale();
  ASSERT_EQ(stale, (std::vector<QRect>{changed, QRect(30, 25, 10, 5)}));
  EXPECT_EQ(surface.Pixel(6, 7), 0x0000FFu);  // the old picture, left for the caller to redraw
  EXPECT_EQ(OnScreen().pixel(6, 7), 0xFF00FF00u);
}

// Records the region of every paint event a widget gets.
class TPaintRegions : public QObject {
 public:
  std::vector<QRegion> Regions;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) Regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
};

// A swapping flip repaints only what changed, where the picture lies in the control; Flip and
// a stretched picture repaint all of it.
TEST_F(SurfaceViewTest, SwappingFlipRepaintsOnlyWhatChanged) {
  struct TCase {
    std::string Name;
    TSurfaceViewOptions Options;
    bool Swapping;
    QRegion Expected;
  };
  const QRect changed(3, 4, 5, 6), further(20, 4, 2, 2);
  const QRegion both = QRegion(changed) + further;
  const TCase cases[] = {
      {"at the top left", 0, true, both},
      {"centred", doCenter, true, both.translated(5, 5)},  // (40 - 30) / 2, (30 - 20) / 2
      {"stretched", doStretch, true, QRegion(0, 0, 40, 30)},
      {"copied", doCenter, false, QRegion(5, 5, 30, 20)},
  };
  view->SetAutoSize(false);
  view->SetSurfaceSize(30, 20);
  window->show();
  TPaintRegions painted;
  view->installEventFilter(&painted);
  for (const TCase& test : cases) {
    view->SetOptions(test.Options);
    view->Surface().Fill(0x102030);
    view->Flip();
    QCoreApplication::processEvents();
    painted.Regions.clear();
    view->Surface().SetPixel(4, 5, 0xFFFFFF);
    if (test.Swapping) {
      view->FlipSwapping({changed, further});
    } else {
      view->Flip();
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(painted.Regions.size(), 1u) << test.Name;
    EXPECT_EQ(painted.Regions[0], test.Expected) << test.Name;
  }
  view->removeEventFilter(&painted);
}

// Flipping a picture the screen shows already repaints nothing; a changed pixel repaints.
TEST_F(SurfaceViewTest, FlippingTheSamePictureAgainRepaintsNothing) {
  window->show();
  TPaintRegions painted;
  view->installEventFilter(&painted);
  TSurface& surface = view->Surface();
  surface.Fill(0x203040);
  view->Flip();
  QCoreApplication::processEvents();
  ASSERT_EQ(painted.Regions.size(), 1u);
  for (int i = 0; i < 3; ++i) view->Flip();
  QCoreApplication::processEvents();
  EXPECT_EQ(painted.Regions.size(), 1u);
  surface.SetPixel(39, 29, 0x203041);
  view->Flip();
  QCoreApplication::processEvents();
  EXPECT_EQ(painted.Regions.size(), 2u);
  EXPECT_EQ(InWindowBuffer().pixel(39, 29), 0xFF203041u);
  view->removeEventFilter(&painted);
}

// Hundreds of swapping flips of small changes, painted every one to four flips: the window's
// buffer shows exactly the presented picture, centred on the control's colour.
TEST_F(SurfaceViewTest, TheWindowShowsThePresentedPictureAfterManySwappingFlips) {
  view->SetAutoSize(false);
  view->SetSurfaceSize(30, 20);
  view->SetOptions(doCenter);
  view->SetColor(0x00FF00);
  window->show();
  TSurface& surface = view->Surface();
  std::mt19937 random(11);
  const auto shown = [&](int frame) {
    const QImage buffer = InWindowBuffer();
    const QImage& presented = view->Presented();
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) {
        const bool inside = x >= 5 && x < 35 && y >= 5 && y < 25;
        const QRgb expected = inside ? presented.pixel(x - 5, y - 5) : 0xFF00FF00u;
        ASSERT_EQ(buffer.pixel(x, y), expected) << "at " << x << "," << y << " after flip " << frame;
      }
    }
  };
  shown(0);
  int paintIn = 1;
  for (int frame = 1; frame <= 300; ++frame) {
    std::vector<QRect> changed;
    for (int i = static_cast<int>(random() % 4); i > 0; --i) {
      const QRect rect(static_cast<int>(random() % 34) - 2, static_cast<int>(random() % 24) - 2,
                       1 + static_cast<int>(random() % 6), 1 + static_cast<int>(random() % 6));
      std::vector<TSpan> spans;
      AppendSpans(spans, rect);
      surface.FillSpans(spans, random() & 0xFFFFFF);
      changed.push_back(rect);
    }
    view->FlipSwapping(changed);
    if (--paintIn == 0) {
      shown(frame);
      if (HasFatalFailure()) return;
      paintIn = 1 + static_cast<int>(random() % 4);
    }
  }
  EXPECT_TRUE(reports.empty());
}

TEST_F(SurfaceViewTest, CenteredSurfaceSmallerThanTheControl) {
  view->SetAutoSize(false);
  view->SetOptions(doCenter);
  view->SetSurfaceWidth(20);
  view->SetSurfaceHeight(11);
  view->SetColor(0x00FF00);
  window->show();
  ASSERT_EQ(view->Surface().Width(), 20);
  view->Surface().Fill(0xFFFFFF);
  view->Flip();
  const QImage shown = OnScreen();
  // (40 - 20) / 2 = 10 and (30 - 11) / 2 = 9, truncated.
  EXPECT_EQ(shown.pixel(10, 9), 0xFFFFFFFFu);
  EXPECT_EQ(shown.pixel(29, 19), 0xFFFFFFFFu);
  EXPECT_EQ(shown.pixel(9, 9), 0xFF00FF00u);
  EXPECT_EQ(shown.pixel(10, 8), 0xFF00FF00u);
  EXPECT_EQ(shown.pixel(30, 19), 0xFF00FF00u);
}

TEST_F(SurfaceViewTest, LifeCycleEventsAndNoticesComeInOrder) {
  std::vector<std::string> log;
  view->OnInitializing = [&](TCustomSurfaceView&) { log.push_back("OnInitializing"); };
  view->OnInitialize = [&](TCustomSurfaceView&) { log.push_back("OnInitialize"); };
  view->OnInitializeSurface = [&](TCustomSurfaceView&) { log.push_back("OnInitializeSurface"); };
  view->OnRestoreSurface = [&](TCustomSurfaceView& sender) {
    log.push_back("OnRestoreSurface");
    EXPECT_FALSE(sender.CanDraw());  // busy while restoring
  };
  view->OnFinalizeSurface = [&](TCustomSurfaceView&) { log.push_back("OnFinalizeSurface"); };
  view->OnFinalize = [&](TCustomSurfaceView&) { log.push_back("OnFinalize"); };
  int receiver = 0;
  view->RegisterNotifyEvent(&receiver, [&](TCustomSurfaceView&, SurfaceViewNotice notice) {
    log.push_back("notice " + std::to_string(static_cast<int>(notice)));
  });
  window->show();
  window->hide();
  window->show();  // tries once only
  view->Finalize();
  using N = SurfaceViewNotice;
  const auto notice = [](N n) { return "notice " + std::to_string(static_cast<int>(n)); };
  EXPECT_EQ(log, (std::vector<std::string>{"OnInitializing", notice(N::Initializing), notice(N::SetSurfaceSize),
                                           notice(N::Initialize), "OnInitialize", notice(N::InitializeSurface),
                                           "OnInitializeSurface", notice(N::Restore), "OnRestoreSurface",
                                           "OnFinalizeSurface", notice(N::FinalizeSurface), "OnFinalize",
                                           notice(N::Finalize)}));
  EXPECT_FALSE(view->CanDraw());
  EXPECT_EQ(view->SurfaceWidth(), 40);
  view->UnregisterNotifyEvent(&receiver);
}

TEST_F(SurfaceViewTest, FinalizeRunsEveryStepWhenAHandlerFails) {
  window->show();
  std::vector<SurfaceViewNotice> notices;
  int receiver = 0;
  view->RegisterNotifyEvent(&receiver, [&](TCustomSurfaceView&, SurfaceViewNotice notice) { notices.push_back(notice); });
  view->OnFinalizeSurface = [](TCustomSurfaceView&) { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(view->Finalize(), std::runtime_error);
  EXPECT_FALSE(view->Initialized());
  EXPECT_FALSE(view->Surface().HasPixels());
  EXPECT_EQ(notices.back(), SurfaceViewNotice::Finalize);
  view->OnFinalizeSurface = nullptr;
  view->UnregisterNotifyEvent(&receiver);
}

TEST_F(SurfaceViewTest, SurfaceThatCannotBeMadeLeavesTheViewUndrawable) {
  view->SetAutoSize(false);
  view->SetSurfaceWidth(1 << 30);  // more than an image can address
  view->SetSurfaceHeight(1);
  window->show();
  EXPECT_EQ(reports, (std::vector<std::string>{"Surface cannot be made"}));
  EXPECT_FALSE(view->CanDraw());
  view->Surface().Fill(0);
  view->Surface().Canvas().TextOut(0, 0, "x");
  view->Flip();
}

TEST(SurfaceViewWithoutWindow, FailsWithFormNotFound) {
  TSurfaceView view;
  try {
    view.Initialize();
    FAIL() << "no error";
  } catch (const ESurfaceViewError& error) {
    EXPECT_STREQ(error.what(), "Form not found");
  }
  EXPECT_FALSE(view.CanDraw());
}

TEST_F(SurfaceViewTest, SpriteListFollowsItsView) {
  TSpriteList sprites;
  LoadStandardSprites(sprites.Items());
  sprites.SetView(view);
  EXPECT_FALSE(sprites.Items()[0].Initialized());
  window->show();
  EXPECT_EQ(sprites.Items().View(), view);
  EXPECT_TRUE(sprites.Items()[0].Initialized());
  EXPECT_EQ(sprites.Items()[1].PatternCount(), 1);

  view->Finalize();
  EXPECT_FALSE(sprites.Items()[1].Initialized());
  EXPECT_EQ(sprites.Items()[1].PatternCount(), 0);
  view->Initialize();
  EXPECT_EQ(sprites.Items()[1].PatternCount(), 1);

  // Binding to a view that is already initialised makes the surfaces at once.
  TSpriteList late;
  LoadStandardSprites(late.Items());
  late.SetView(view);
  EXPECT_EQ(late.Items()[0].PatternCount(), 1);
  late.SetView(nullptr);
  EXPECT_EQ(late.Items()[0].PatternCount(), 0);

  window.reset();  // destroys the view
  EXPECT_EQ(sprites.View(), nullptr);
  EXPECT_FALSE(sprites.Items()[0].Initialized());
}

}  // namespace
}  // namespace zemlix
