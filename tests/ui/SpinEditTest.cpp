#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "ui/SpinEdit.h"

namespace zemlix {
namespace {

struct SpinFixture {
  SpinFixture() {
    box.SetMinValue(5);
    box.SetMaxValue(200);
    box.SetIncrement(5);
    box.SetValue(30);
    box.OnChange = [this] { changes.push_back(box.Value()); };
  }
  TSpinEdit box;
  std::vector<int> changes;
};

TEST(SpinEdit, ArrowsStepAndClamp) {
  SpinFixture f;
  f.box.stepBy(1);
  EXPECT_EQ(f.box.Value(), 35);
  f.box.SetValue(198);
  f.box.stepBy(1);
  EXPECT_EQ(f.box.Value(), 200);
  f.box.SetValue(7);
  f.box.stepBy(-1);
  EXPECT_EQ(f.box.Value(), 5);
  EXPECT_EQ(f.changes, (std::vector<int>{35, 198, 200, 7, 5}));
}

TEST(SpinEdit, ProgramValuesAreClampedAndTheSameValueFiresNothing) {
  SpinFixture f;
  f.box.SetValue(500);
  EXPECT_EQ(f.box.Value(), 200);
  f.box.SetValue(200);
  f.box.SetValue(-3);
  EXPECT_EQ(f.box.Value(), 5);
  EXPECT_EQ(f.changes, (std::vector<int>{200, 5}));
}

TEST(SpinEdit, TypedValuesStandUntilFocusLeaves) {
  SpinFixture f;
  QLineEdit* edit = f.box.findChild<QLineEdit*>();
  edit->selectAll();
  QTest::keyClicks(edit, "250");
  EXPECT_EQ(edit->text(), "250");
  EXPECT_EQ(f.box.Value(), 250);
  QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(&f.box, &focusOut);
  EXPECT_EQ(f.box.Value(), 200);
  EXPECT_EQ(f.changes.back(), 200);

  edit->selectAll();
  QTest::keyClicks(edit, "x");  // refused
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), "");
  EXPECT_EQ(f.box.Value(), 5);  // not a number: the minimum
  QTest::keyClicks(edit, "-");
  EXPECT_EQ(f.box.Value(), 5);
}

TEST(SpinEdit, ReadOnlyEditorStillSteps) {
  SpinFixture f;
  f.box.SetEditorEnabled(false);
  QLineEdit* edit = f.box.findChild<QLineEdit*>();
  QTest::keyClicks(edit, "9");
  EXPECT_EQ(f.box.Value(), 30);
  f.box.stepBy(1);
  EXPECT_EQ(f.box.Value(), 35);
}

}  // namespace
}  // namespace zemlix
