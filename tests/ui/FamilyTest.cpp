// The family window and the words for a bug's parents.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <string>

#include "display/HandlerErrors.h"
#include "ui/FamilyWindow.h"
#include "ui/LaboratoryWindow.h"
#include "ui/SpinEdit.h"

namespace zemlix::testing {
namespace {

TEST(Family, ParentsInWords) {
  const struct {
    TParentage Origin;
    int32_t Generation;
    const char* Expected;
  } cases[] = {
      {{12, 40, 17, 2}, 3, "Parents: 12 × 40, crossover at 17, 2 mutations"},
      {{12, 5, -1, 1}, 3, "Parents: copy of 12, 1 mutation"},
      {{0, 0, 0, 0}, 1, "Parents: 0 × 0, crossover at 0, 0 mutations"},
      {{}, 0, "First generation"},
      {{}, 4, "Parents unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentsText(c.Origin, c.Generation), QString::fromUtf8(c.Expected));
}

// Three generation ends of four bugs. Bug 2 now: a cross of 1 and 3; bug 1 of the generation
// before: a copy of 0; bug 3 then: a cross of 0 and 2 at point 0, which still names both;
// bug 0 of generation 1: a cross of 1 with itself, one line; bug 2 then: a copy of 3.
TEST(Family, AncestryGoesBackRowByRowAsFarAsAskedAndKnown) {
  TFamilyLines lines;
  lines.Start(0, std::vector<TParentage>(4));
  lines.Add(1, std::vector<TParentage>{{1, 1, 3, 0}, {2, 3, 1, 0}, {3, 3, -1, 0}, {0, 2, 5, 1}});
  lines.Add(2, std::vector<TParentage>{{3, 3, -1, 0}, {0, 2, -1, 0}, {1, 1, 4, 0}, {0, 2, 0, 2}});
  lines.Add(3, std::vector<TParentage>{{0, 0, -1, 0}, {0, 0, -1, 0}, {1, 3, 9, 1}, {2, 2, -1, 0}});
  // Each row as "bug:first/second" with the parents' positions in the row below.
  const auto rows = [](const TAncestry& ancestry) {
    std::vector<std::string> text;
    for (const auto& row : ancestry.Rows) {
      text.emplace_back();
      for (const auto& node : row)
        text.back() += std::to_string(node.Bug) + ":" + std::to_string(node.ParentA) + "/" + std::to_string(node.ParentB) + " ";
    }
    return text;
  };
  const TAncestry deep = Ancestry(lines, 2, 10);
  EXPECT_EQ(deep.Generation, 3);
  // The lines reach back to generation 0 and stop there.
  EXPECT_EQ(rows(deep), std::vector<std::string>({"2:0/1 ", "1:0/-1 3:0/1 ", "0:0/-1 2:1/-1 ", "1:-1/-1 3:-1/-1 "}));
  EXPECT_FALSE(deep.Rows[3][0].Origin.Known());
  EXPECT_EQ(Ancestry(lines, 2, 1).Rows.size(), 2u);
  EXPECT_EQ(lines.Of(4, 0), TParentage{});
  EXPECT_EQ(lines.Of(3, 9), TParentage{});
}

class FamilyWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("zemlix-family-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
    lab = std::make_unique<TLaboratoryWindow>(TNetworkLog(directory));
    lab->RunsFolder = QString::fromStdString((directory / "runs").string());
    lab->show();
  }
  void TearDown() override {
    lab.reset();
    SetErrorReporter({});
    std::filesystem::remove_all(directory);
  }
  std::filesystem::path directory;
  std::vector<std::string> errors;
  std::unique_ptr<TLaboratoryWindow> lab;
};

// Two generation ends of a run: the tree shows the selected bug's parents as the world bred
// them, clicking an ancestor selects the bug of that number, and a saved world opened again
// still knows the parents.
TEST_F(FamilyWindowTest, FollowsTheRunAndSelectsByClick) {
  TMain& client = *lab->Client;
  lab->SetFixedSeed(3);
  client.NumberOfBugsBox->SetValue(10);
  client.CreatureLifetimeBox->SetValue(500);
  client.WorldViewEnabled->setChecked(false);
  lab->StartAction->trigger();
  client.Timer.SetEnabled(false);
  EXPECT_EQ(lab->ParentsText(), "First generation");
  for (int frame = 0; frame < 1000; ++frame) client.Timer.OnTimer(client.Timer, 1);
  const TWorld& world = client.World;
  ASSERT_EQ(world.Generation, 2);

  lab->FamilyAction->trigger();
  TFamilyWindow& family = *lab->FamilyWindow;
  QCoreApplication::processEvents();
  const TAncestry& shown = family.Tree->Ancestry();
  ASSERT_EQ(shown.Rows.size(), 3u);
  const TParentage origin = world.Parentage[0];
  EXPECT_EQ(lab->ParentsText(), ParentsText(origin, 2));
  EXPECT_TRUE(lab->ParentsText().startsWith("Parents: "));
  EXPECT_EQ(shown.Rows[0][0].Bug, 0);
  EXPECT_EQ(shown.Rows[1][shown.Rows[0][0].ParentA].Bug, origin.ParentA);
  EXPECT_EQ(family.ParentsLabel->text(), "Bug 0: " + lab->ParentsText());

  family.GenerationsBox->setValue(1);
  EXPECT_EQ(family.Tree->Ancestry().Rows.size(), 2u);
  const int32_t parent = family.Tree->Ancestry().Rows[1].back().Bug;
  QTest::mouseClick(family.Tree, Qt::LeftButton, {}, family.Tree->NodeCentre(1, static_cast<int32_t>(family.Tree->Ancestry().Rows[1].size()) - 1));
  EXPECT_EQ(world.SelectedBug, parent);
  lab->UpdateStatus();
  EXPECT_EQ(family.Tree->Ancestry().Rows[0][0].Bug, parent);
  EXPECT_EQ(family.ParentsLabel->text(), QStringLiteral("Bug %1: ").arg(parent) + lab->ParentsText());

  const QString path = QString::fromStdString((directory / "two.world").string());
  ASSERT_TRUE(lab->SaveWorld(path));
  const std::vector<TParentage> saved = world.Parentage;
  lab->StartAction->trigger();  // a new run: nobody has parents yet
  client.Timer.SetEnabled(false);
  lab->UpdateStatus();
  EXPECT_EQ(lab->ParentsText(), "First generation");
  EXPECT_EQ(family.Tree->Ancestry().Rows.size(), 1u);
  ASSERT_TRUE(lab->OpenWorld(path));
  client.Timer.SetEnabled(false);
  EXPECT_EQ(world.Parentage, saved);
  lab->UpdateStatus();
  EXPECT_EQ(family.Tree->Ancestry().Rows.size(), 2u);  // only the file's generation is known
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace zemlix::testing
