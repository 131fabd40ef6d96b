#pragma once

#include <QWidget>
#include <functional>

#include "ui/FamilyLines.h"
#include "world/World.h"

class QLabel;
class QSpinBox;

namespace zemlix {

// The words for one bug's parents: "Parents: 12 × 40, crossover at 17, 2 mutations",
// "Parents: copy of 12, 1 mutation", "First generation" before any generation end, and
// "Parents unknown" for a world opened from a file that did not carry them.
QString ParentsText(const TParentage& origin, int32_t generation);

// The ancestry drawn as rows of bug numbers, the bug on top and each generation back one row
// lower, lines running from each bug to its parents. Painted by itself; it redraws only when
// given another ancestry.
class TFamilyTreeView : public QWidget {
  Q_OBJECT

 public:
  explicit TFamilyTreeView(QWidget* parent = nullptr);
  void SetAncestry(TAncestry ancestry, int32_t bugCount);
  const TAncestry& Ancestry() const { return Ancestry_; }
  // The row and position of the node drawn at `point`; false where there is none.
  bool NodeAt(QPoint point, int32_t& row, int32_t& position) const;
  // The centre of a node as drawn now.
  QPoint NodeCentre(int32_t row, int32_t position) const;
  // Called with a bug number when a node is clicked whose number is a bug on the field now.
  std::function<void(int32_t bug)> OnBugClicked;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int NodeRadius(int32_t row) const;
  TAncestry Ancestry_;
  int32_t BugCount_ = 0;
};

// View → Family: the selected bug's ancestry back over a chosen number of generations.
// `lines` and `world` must outlive it; Refresh() brings it up to date (cheaply when
// nothing changed), and the laboratory calls it a few times a second while it is shown.
class TFamilyWindow : public QWidget {
  Q_OBJECT

 public:
  TFamilyWindow(const TFamilyLines& lines, const TWorld& world, QWidget* parent = nullptr);
  void Refresh();

  QSpinBox* GenerationsBox;
  QLabel* ParentsLabel;
  TFamilyTreeView* Tree;

 private:
  const TFamilyLines& Lines_;
  const TWorld& World_;
  // What the tree shows now: the lines' version, the bug, the depth and whether any is.
  struct TShown {
    uint64_t Version;
    int32_t Bug, Depth;
    bool Population;
    bool operator==(const TShown&) const = default;
  };
  TShown Shown_{~uint64_t{0}, -1, -1, false};
};

}  // namespace zemlix
