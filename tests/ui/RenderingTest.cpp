#include <map>

#include "tests/ui/WindowFixture.h"

namespace zemlix::testing {
namespace {

// Puts every bug and pellet in the far corner so a test can place the ones it looks at.
void ClearTheField(TWorld& world) {
  for (TCreature& bug : world.Creatures) {
    bug.X = bug.Y = 395;
    bug.SetHeading(0);
  }
  for (TFood& food : world.Food) food = {396, 396};
}

bool AnyPixelIn(TSurfaceView* view, int x1, int y1, int x2, int y2, uint32_t raw) {
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x)
      if ((view->Surface().Pixel(x, y) & 0xFFFFFF) == raw) return true;
  return false;
}

// Runs of columns in [x1, x2) that hold a pixel of `raw` in rows [y1, y2).
int ColumnRuns(TSurfaceView* view, int x1, int y1, int x2, int y2, uint32_t raw) {
  int runs = 0;
  bool previous = false;
  for (int x = x1; x < x2; ++x) {
    const bool inked = AnyPixelIn(view, x, y1, x + 1, y2, raw);
    if (inked && !previous) ++runs;
    previous = inked;
  }
  return runs;
}

}  // namespace

// "Fitness" in the statistics reads with every glyph apart: seven separate runs of yellow
// columns (at 11 px the F and the i touched, reading "Ftness").
TEST_F(WindowTest, EveryGlyphOfTheStatisticsStandsApart) {
  Start();
  ClearTheField(window->World);
  window->TimerTimer(1);
  TSurfaceView* view = window->WorldView;
  TSurfaceCanvas& canvas = view->Surface().Canvas();
  const int top = view->SurfaceHeight() - 28;
  const int from = 1 + canvas.TextWidth("Total "), to = 1 + canvas.TextWidth("Total Fitness");
  EXPECT_EQ(ColumnRuns(view, from, top, to, top + 13, Raw(clYellow)), 7);
  EXPECT_EQ(ColumnRuns(view, 1, 1, 1 + canvas.TextWidth("Generation"), 14, Raw(clYellow)), 10);
}

// Unticking the stats before any frame must not leave white boxes behind the meters'
// letters: only the letter's olive on black.
TEST_F(WindowTest, MeterLettersNeverHaveABackground) {
  QTest::mouseClick(window->ShowStatsBox, Qt::LeftButton);
  ASSERT_FALSE(window->ShowStatsBox->isChecked());
  for (TSurfaceView* meter : {window->LeftImpulseMeter, window->RightImpulseMeter}) {
    EXPECT_TRUE(AnyPixelIn(meter, 1, 1, 9, 14, Raw(clOlive)));
    for (int y = 0; y < meter->SurfaceHeight(); ++y)
      for (int x = 0; x < meter->SurfaceWidth(); ++x)
        ASSERT_TRUE(Pixel(meter, x, y) == 0 || Pixel(meter, x, y) == Raw(clOlive)) << x << "," << y;
  }
}

TEST_F(WindowTest, WorldViewBorderFoodAndStatistics) {
  Start();
  window->TimerTimer(1);
  TSurfaceView* view = window->WorldView;
  for (const QPoint& p : {QPoint(0, 0), QPoint(399, 0), QPoint(0, 399), QPoint(399, 399), QPoint(200, 0), QPoint(0, 250)})
    EXPECT_EQ(Pixel(view, p.x(), p.y()), Raw(clRed)) << p.x() << "," << p.y();

  // Statistics: yellow glyphs in the lines at y = 1, 14, 372 and 386, nothing yellow between.
  const uint32_t yellow = Raw(clYellow);
  EXPECT_TRUE(AnyPixelIn(view, 1, 1, 120, 14, yellow));
  EXPECT_TRUE(AnyPixelIn(view, 1, 14, 120, 27, yellow));
  EXPECT_TRUE(AnyPixelIn(view, 1, 372, 120, 385, yellow));
  EXPECT_TRUE(AnyPixelIn(view, 1, 386, 250, 399, yellow));
  EXPECT_TRUE(AnyPixelIn(view, 1, 0, 120, 30, Raw(0x002222)));  // the outline
}

TEST_F(WindowTest, FoodAndRingsOfTheNearestPellet) {
  Start();
  TWorld& world = window->World;
  ClearTheField(world);
  world.Creatures[0].X = world.Creatures[0].Y = 100;
  world.Food[0] = {4.5, 4.5};      // drawn with its corner at (0, 0)
  world.Food[1] = {200.5, 150.5};  // nearest to bug 0
  world.SelectedBug = 0;
  world.SelectedBugFood = 1;
  TSurfaceView* view = window->WorldView;

  for (int ttl : {6, 7}) {
    world.TimeToLive = ttl;
    view->Surface().Fill(0);
    window->DrawFood();
    // Food picture 0 row 0 col 2 is maroon (#800000), col 0 transparent.
    EXPECT_EQ(Pixel(view, 2, 0), 0x800000u);
    EXPECT_EQ(Pixel(view, 0, 0), 0u);
    const int px = 196, py = 146;  // Round(200.5 - 4.5), Round(150.5 - 4.5)
    const uint32_t purple = Raw(0x551155);
    const bool inner = AnyPixelIn(view, px - 1, py + 3, px, py + 7, purple);
    const bool outer13 = AnyPixelIn(view, px - 2, py + 3, px - 1, py + 7, purple);
    const bool outer15 = AnyPixelIn(view, px - 3, py + 3, px - 2, py + 7, purple);
    if (ttl == 6) {
      EXPECT_TRUE(inner);
      EXPECT_TRUE(outer13);
      EXPECT_FALSE(outer15);
    } else {
      EXPECT_FALSE(inner);
      EXPECT_FALSE(outer13);
      EXPECT_TRUE(outer15);
    }
  }
}

TEST_F(WindowTest, SelectionRingsBlinkByTimeToLive) {
  Start();
  TWorld& world = window->World;
  ClearTheField(world);
  world.Creatures[3].X = world.Creatures[3].Y = 200;
  world.SelectedBug = 3;
  const uint32_t blue = Raw(0xFF0000), lightBlue = Raw(0xFF5555);
  const char* expected[6] = {"blue", "light", "blue", "blue", "blue", "light"};
  for (int ttl = 6; ttl < 12; ++ttl) {
    world.TimeToLive = ttl;
    window->WorldView->Surface().Fill(0);
    window->DrawCreatures();
    const bool isLight = std::string(expected[ttl % 6]) == "light";
    // The outer ring's leftmost column is x = 192; the inner one's x = 193.
    EXPECT_TRUE(AnyPixelIn(window->WorldView, 192, 196, 193, 204, isLight ? lightBlue : blue)) << ttl;
    EXPECT_TRUE(AnyPixelIn(window->WorldView, 193, 196, 194, 204, isLight ? lightBlue : blue)) << ttl;
    EXPECT_FALSE(AnyPixelIn(window->WorldView, 180, 180, 220, 220, isLight ? blue : lightBlue)) << ttl;
  }
  world.SelectedBug = 150;  // not an active bug: no rings
  window->WorldView->Surface().Fill(0);
  window->DrawCreatures();
  EXPECT_FALSE(AnyPixelIn(window->WorldView, 185, 185, 215, 215, blue));
  EXPECT_FALSE(AnyPixelIn(window->WorldView, 185, 185, 215, 215, lightBlue));
}

TEST_F(WindowTest, BugsAreDrawnTurnedToTheirHeading) {
  Start();
  TWorld& world = window->World;
  ClearTheField(world);
  world.SelectedBug = 199;
  world.Creatures[0].X = world.Creatures[0].Y = 100;
  world.Creatures[0].SetHeading(0);  // moving down: the arrow's tip points down
  window->WorldView->Surface().Fill(0);
  window->DrawCreatures();
  const uint32_t green = 0x00FF00;
  // Heading 0 is angle -128: the picture is upside down, tip (row 0, col 4) at the bottom.
  EXPECT_TRUE(AnyPixelIn(window->WorldView, 99, 103, 102, 105, green));
  EXPECT_FALSE(AnyPixelIn(window->WorldView, 95, 94, 106, 96, green));
}

TEST_F(WindowTest, GenomeBarsAndBaseline) {
  Start();
  TWorld& world = window->World;
  world.SelectedBug = 0;
  TWeightList weights(44, 0.0);
  weights[0] = 0.5;
  weights[1] = -0.5;
  weights[2] = 3;
  world.Nets[0].PutWeights(weights);
  window->DrawObservation();
  TSurfaceView* map = window->GenomeMap;
  const uint32_t yellow = Raw(clYellow), baseline = Raw(0x102020);
  // Bar 1 at x = 4: a weight of 0.5 rises from y = 16 to y = 9.
  for (int y = 9; y <= 16; ++y) EXPECT_EQ(Pixel(map, 4, y), yellow) << y;
  EXPECT_EQ(Pixel(map, 4, 8), 0u);
  EXPECT_EQ(Pixel(map, 4, 17), 0u);
  // Bar 2 at x = 9: -0.5 falls from 16 to 24.
  for (int y = 16; y <= 24; ++y) EXPECT_EQ(Pixel(map, 9, y), yellow) << y;
  EXPECT_EQ(Pixel(map, 9, 25), 0u);
  EXPECT_EQ(Pixel(map, 9, 15), 0u);
  // Bar 3 at x = 13: a weight of 3 is cut off at the top edge.
  for (int y = 0; y <= 16; ++y) EXPECT_EQ(Pixel(map, 13, y), yellow) << y;
  // The baseline runs from x = 5 to 211 on y = 16; zero weights draw no bar.
  EXPECT_EQ(Pixel(map, 5, 16), baseline);
  EXPECT_EQ(Pixel(map, 211, 16), baseline);
  EXPECT_EQ(Pixel(map, 212, 16), 0u);
  EXPECT_EQ(Pixel(map, 18, 15), 0u);
}

TEST_F(WindowTest, ImpulseMeters) {
  Start();
  TSurfaceView* left = window->LeftImpulseMeter;
  TSurfaceView* right = window->RightImpulseMeter;
  // The tooltips are made when shown (not on every frame), from the values last drawn.
  window->DrawImpulseMeters(0.5, 0.25);
  EXPECT_EQ(left->toolTip(), "");
  EXPECT_EQ(ShownToolTip(left), "0.5000");
  window->DrawImpulseMeters(0.97, 0.015);
  EXPECT_EQ(ShownToolTip(left), "0.9700");
  EXPECT_EQ(ShownToolTip(right), "0.0150");
  // Left: a bar from y = 1 to the bottom, lime outline, green inside.
  EXPECT_EQ(Pixel(left, 4, 0), 0u);
  EXPECT_EQ(Pixel(left, 0, 20), Raw(clLime));
  EXPECT_EQ(Pixel(left, 8, 20), Raw(clLime));
  EXPECT_EQ(Pixel(left, 4, 32), Raw(clLime));
  EXPECT_EQ(Pixel(left, 4, 25), Raw(clGreen));
  // Right: Round(0.495) = 0, no bar; only the letter.
  EXPECT_FALSE(AnyPixelIn(right, 0, 15, 9, 33, Raw(clRed)));
  EXPECT_FALSE(AnyPixelIn(right, 0, 15, 9, 33, Raw(clMaroon)));
  EXPECT_TRUE(AnyPixelIn(right, 1, 1, 9, 14, Raw(clYellow)));
}

TEST_F(WindowTest, UncheckingTheTogglesBlanksTheViews) {
  Start();
  window->TimerTimer(1);
  QTest::mouseClick(window->WorldViewEnabled, Qt::LeftButton);
  ASSERT_FALSE(window->WorldViewEnabled->isChecked());
  TSurfaceView* view = window->WorldView;
  EXPECT_EQ(Pixel(view, 0, 0), Raw(clMaroon));
  EXPECT_EQ(Pixel(view, 200, 399), Raw(clMaroon));
  EXPECT_FALSE(AnyPixelIn(view, 1, 1, 399, 399, Raw(clYellow)));
  window->TimerTimer(1);  // frames leave the switched-off view alone
  EXPECT_EQ(Pixel(view, 0, 0), Raw(clMaroon));

  const QString fitness = window->FitnessLabel->text();
  QTest::mouseClick(window->ShowStatsBox, Qt::LeftButton);
  ASSERT_FALSE(window->ShowStatsBox->isChecked());
  EXPECT_EQ(ShownToolTip(window->LeftImpulseMeter), "");
  EXPECT_EQ(ShownToolTip(window->RightImpulseMeter), "");
  EXPECT_TRUE(AnyPixelIn(window->LeftImpulseMeter, 1, 1, 9, 14, Raw(clOlive)));
  EXPECT_FALSE(AnyPixelIn(window->LeftImpulseMeter, 0, 0, 9, 33, Raw(clLime)));
  EXPECT_FALSE(AnyPixelIn(window->GenomeMap, 0, 0, 217, 33, Raw(clYellow)));
  EXPECT_EQ(Pixel(window->GenomeMap, 100, 16), Raw(0x102020));
  EXPECT_EQ(window->FitnessLabel->text(), fitness);
  window->TimerTimer(1);
  EXPECT_FALSE(AnyPixelIn(window->GenomeMap, 0, 0, 217, 33, Raw(clYellow)));
}

// The genome map shows the selected bug's weights whenever a selection comes back, and again
// after the panel was cleared.
TEST_F(WindowTest, GenomeMapFollowsTheSelectedWeights) {
  Start();
  std::map<int, QImage> maps;  // each bug's map as first drawn
  for (const int bug : {0, 5, 0, 9, 5, 9}) {
    window->World.SelectedBug = bug;
    window->DrawObservation();
    const QImage map = window->GenomeMap->Presented().copy();
    EXPECT_EQ(map, maps.emplace(bug, map).first->second) << "bug " << bug;
  }
  EXPECT_NE(maps[0], maps[5]);
  EXPECT_NE(maps[5], maps[9]);
  window->ClearObservation();
  window->DrawObservation();
  EXPECT_EQ(window->GenomeMap->Presented(), maps[9]);
}

TEST_F(WindowTest, ClearingBeforeTheFirstStartIsHarmless) {
  QTest::mouseClick(window->ShowStatsBox, Qt::LeftButton);
  QTest::mouseClick(window->WorldViewEnabled, Qt::LeftButton);
  QTest::mouseClick(window->GetStrongestBtn, Qt::LeftButton);
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(AnyPixelIn(window->GenomeMap, 0, 0, 217, 33, Raw(0x102020)));
}

}  // namespace zemlix::testing

namespace zemlix::testing {
namespace {

// Frame by frame, a window that clears only what it drew, swaps buffers, keeps its texts and
// turned sprites shows the same pictures as one that draws every frame from scratch: across
// generation ends, a new selection, a paused redraw and the world view switched off and on.
// The surfaces are read only now and then, so that most frames find the swapped-in buffer
// not yet brought up to date, as they do in the window.
TEST_F(WindowTest, FramesMatchFramesDrawnFromScratch) {
  const auto start = [](TMain& main) {
    QTest::mouseClick(main.StartBtn, Qt::LeftButton);
    main.World.Random.Seed = 7;
    main.World.BuildPopulation();
    main.Timer.SetEnabled(false);
  };
  std::filesystem::create_directories(directory / "plain");
  TMain plain{TNetworkLog(directory / "plain")};
  plain.PlainFrames = true;
  plain.show();
  QCoreApplication::processEvents();
  start(*window);
  start(plain);
  const auto same = [&](const char* what, int frame, const std::function<QImage(TMain&)>& picture) {
    ASSERT_EQ(picture(*window), picture(plain)) << what << " differs after frame " << frame;
  };
  for (int frame = 1; frame <= 400; ++frame) {
    for (TMain* main : {window.get(), &plain}) {
      if (frame == 1 || frame == 200) main->World.TimeToLive = 60;  // generation ends soon
      if (frame == 150) main->CreatureSelector->SetValue(17);
      if (frame == 220) QTest::mouseClick(main->WorldViewEnabled, Qt::LeftButton);
      if (frame == 223) QTest::mouseClick(main->WorldViewEnabled, Qt::LeftButton);
      main->TimerTimer(1);
      if (frame == 300) main->RedrawWhilePaused();
    }
    same("the world view", frame, [](TMain& main) { return main.WorldView->Presented(); });
    same("the genome map", frame, [](TMain& main) { return main.GenomeMap->Presented(); });
    same("the left meter", frame, [](TMain& main) { return main.LeftImpulseMeter->Presented(); });
    if (HasFatalFailure()) return;
    if (frame % 37 == 0) {
      same("the world view's surface", frame, [](TMain& main) { return main.WorldView->Surface().ToImage(); });
      ASSERT_EQ(window->WorldView->Surface().ToImage(), window->WorldView->Presented()) << frame;
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(window->World.Generation, 2);
  EXPECT_TRUE(errors.empty());
}

// A pellet drawn over the border and then moved away leaves the border whole, in the buffer
// that showed it and in the other one, on every side.
TEST_F(WindowTest, PelletsMovedOffTheBorderLeaveItWhole) {
  std::filesystem::create_directories(directory / "plain");
  TMain plain{TNetworkLog(directory / "plain")};
  plain.PlainFrames = true;
  plain.show();
  QCoreApplication::processEvents();
  for (TMain* main : {window.get(), &plain}) {
    QTest::mouseClick(main->StartBtn, Qt::LeftButton);
    main->World.Random.Seed = 3;
    main->World.BuildPopulation();
    main->Timer.SetEnabled(false);
    for (TCreature& bug : main->World.Creatures) bug.X = bug.Y = 200;
    main->World.SelectedBugFood = 1;  // no rings around the pellet that moves
  }
  const TFood sides[] = {{3.5, 150}, {396.5, 150}, {150, 3.5}, {150, 396.5}, {2.5, 2.5}};
  for (const TFood& side : sides) {
    for (int frame = 0; frame < 5; ++frame) {
      for (TMain* main : {window.get(), &plain}) {
        main->World.Food[0] = frame < 2 ? side : TFood{300, 300};
        main->DrawWorldPicture();
      }
      ASSERT_EQ(window->WorldView->Presented(), plain.WorldView->Presented())
          << "pellet from " << side.X << "," << side.Y << ", frame " << frame;
    }
  }
}

}  // namespace
}  // namespace zemlix::testing
