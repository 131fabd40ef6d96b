// The family window, and the words for a bug's parents that other views show.
#include "ui/FamilyWindow.h"

#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSpinBox>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/LaboratoryWindow.h"

namespace zemlix {
namespace {

constexpr int LabelWidth = 96;  // the generation's name left of its row
constexpr int RowHeight = 46;
constexpr int TopMargin = 16;
const QColor FirstParentColor(40, 90, 200);    // genes before the crossover point, or the copy
const QColor SecondParentColor(215, 120, 30);  // genes from the point on
const QColor SelectedFill(170, 200, 255);

QString Mutations(int32_t count) { return QStringLiteral("%1 mutation%2").arg(count).arg(count == 1 ? "" : "s"); }

}  // namespace

QString ParentsText(const TParentage& origin, int32_t generation) {
  if (!origin.Known()) return generation == 0 ? QStringLiteral("First generation") : QStringLiteral("Parents unknown");
  if (origin.CrossoverPoint < 0)
    return QStringLiteral("Parents: copy of %1, %2").arg(origin.ParentA).arg(Mutations(origin.Mutations));
  return QStringLiteral("Parents: %1 %2 %3, crossover at %4, %5")
      .arg(origin.ParentA)
      .arg(QChar(0x00D7))
      .arg(origin.ParentB)
      .arg(origin.CrossoverPoint)
      .arg(Mutations(origin.Mutations));
}

QString TLaboratoryWindow::ParentsText() const {
  const TWorld& world = Client->World;
  if (!world.HasPopulation() || world.SelectedBug < 0 || world.SelectedBug >= world.BugCount) return {};
  const TParentage origin = static_cast<size_t>(world.SelectedBug) < world.Parentage.size()
                                ? world.Parentage[world.SelectedBug]
                                : TParentage{};
  return zemlix::ParentsText(origin, world.Generation);
}

TFamilyTreeView::TFamilyTreeView(QWidget* parent) : QWidget(parent) {
  setMinimumSize(520, 280);
  setMouseTracking(true);
}

void TFamilyTreeView::SetAncestry(TAncestry ancestry, int32_t bugCount) {
  Ancestry_ = std::move(ancestry);
  BugCount_ = bugCount;
  setMinimumHeight(TopMargin * 2 + 18 + RowHeight * static_cast<int>(std::max<size_t>(Ancestry_.Rows.size(), 1)));
  update();
}

int TFamilyTreeView::NodeRadius(int32_t row) const {
  const int count = static_cast<int>(Ancestry_.Rows[row].size());
  const int spacing = (width() - LabelWidth - 8) / std::max(count, 1);
  return std::clamp(spacing / 2 - 2, 3, 13);
}

QPoint TFamilyTreeView::NodeCentre(int32_t row, int32_t position) const {
  const int count = static_cast<int>(Ancestry_.Rows[row].size());
  const int room = width() - LabelWidth - 8;
  return {LabelWidth + room * (2 * position + 1) / (2 * count), TopMargin + RowHeight * row + RowHeight / 2 - 8};
}

bool TFamilyTreeView::NodeAt(QPoint point, int32_t& row, int32_t& position) const {
  for (int32_t r = 0; r < static_cast<int32_t>(Ancestry_.Rows.size()); ++r) {
    const int radius = NodeRadius(r);
    for (int32_t p = 0; p < static_cast<int32_t>(Ancestry_.Rows[r].size()); ++p) {
      const QPoint offset = point - NodeCentre(r, p);
      if (offset.x() * offset.x() + offset.y() * offset.y() <= (radius + 1) * (radius + 1)) {
        row = r;
        position = p;
        return true;
      }
    }
  }
  return false;
}

void TFamilyTreeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  painter.setRenderHint(QPainter::Antialiasing);
  const auto& rows = Ancestry_.Rows;
  if (rows.empty()) {
    painter.setPen(palette().text().color());
    painter.drawText(rect(), Qt::AlignCenter, "no bug selected");
    return;
  }
  // Lines first, so that the nodes lie over their ends.
  for (size_t r = 0; r + 1 < rows.size(); ++r)
    for (size_t p = 0; p < rows[r].size(); ++p) {
      const TAncestry::TNode& node = rows[r][p];
      const QPoint from = NodeCentre(static_cast<int32_t>(r), static_cast<int32_t>(p));
      const bool copy = node.Origin.CrossoverPoint < 0;
      if (node.ParentA >= 0) {
        painter.setPen(QPen(FirstParentColor, 1.5, copy ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(from, NodeCentre(static_cast<int32_t>(r + 1), node.ParentA));
      }
      if (node.ParentB >= 0) {
        painter.setPen(QPen(SecondParentColor, 1.5));
        painter.drawLine(from, NodeCentre(static_cast<int32_t>(r + 1), node.ParentB));
      }
    }
  QFont font = painter.font();
  font.setPixelSize(10);
  painter.setFont(font);
  for (size_t r = 0; r < rows.size(); ++r) {
    painter.setPen(palette().text().color());
    const int y = TopMargin + RowHeight * static_cast<int>(r);
    painter.drawText(QRect(4, y, LabelWidth - 8, RowHeight - 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Generation %1").arg(Ancestry_.Generation - static_cast<int32_t>(r)));
    const int radius = NodeRadius(static_cast<int32_t>(r));
    for (size_t p = 0; p < rows[r].size(); ++p) {
      const QPoint centre = NodeCentre(static_cast<int32_t>(r), static_cast<int32_t>(p));
      painter.setPen(QPen(palette().text().color(), 1));
      painter.setBrush(r == 0 ? QBrush(SelectedFill) : palette().window());
      painter.drawEllipse(centre, radius, radius);
      if (radius >= 9)
        painter.drawText(QRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), Qt::AlignCenter,
                         QString::number(rows[r][p].Bug));
    }
  }
  painter.setPen(palette().text().color());
  painter.drawText(QRect(4, height() - 16, width() - 8, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   "Blue: to the first parent (a copy's dashed); orange: to the second. Click a bug to select it.");
}

bool TFamilyTreeView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    int32_t row = 0, position = 0;
    if (NodeAt(help->pos(), row, position)) {
      const TAncestry::TNode& node = Ancestry_.Rows[row][position];
      QToolTip::showText(help->globalPos(), QStringLiteral("Bug %1 of generation %2\n%3")
                                                .arg(node.Bug)
                                                .arg(Ancestry_.Generation - row)
                                                .arg(ParentsText(node.Origin, Ancestry_.Generation - row)),
                         this);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::event(event);
}

void TFamilyTreeView::mousePressEvent(QMouseEvent* event) {
  int32_t row = 0, position = 0;
  if (event->button() != Qt::LeftButton || !NodeAt(event->position().toPoint(), row, position)) return;
  // The bugs keep their bodies and numbers from generation to generation while their networks
  // are bred anew: the number clicked is a bug on the field now as long as the world has it.
  const int32_t bug = Ancestry_.Rows[row][position].Bug;
  if (bug >= 0 && bug < BugCount_ && OnBugClicked) OnBugClicked(bug);
}

TFamilyWindow::TFamilyWindow(const TFamilyLines& lines, const TWorld& world, QWidget* parent)
    : QWidget(parent, Qt::Window), Lines_(lines), World_(world) {
  setWindowTitle("Family — Zemlix");
  auto* layout = new QVBoxLayout(this);
  auto* controls = new QHBoxLayout;
  auto* caption = new QLabel("&Generations back:", this);
  GenerationsBox = new QSpinBox(this);
  GenerationsBox->setRange(1, TFamilyLines::Capacity);
  GenerationsBox->setValue(5);
  caption->setBuddy(GenerationsBox);
  ParentsLabel = new QLabel(this);
  controls->addWidget(caption);
  controls->addWidget(GenerationsBox);
  controls->addSpacing(16);
  controls->addWidget(ParentsLabel, 1);
  layout->addLayout(controls);
  Tree = new TFamilyTreeView(this);
  layout->addWidget(Tree, 1);
  connect(GenerationsBox, &QSpinBox::valueChanged, this, [this] { Refresh(); });
}

void TFamilyWindow::Refresh() {
  const bool population = World_.HasPopulation() && World_.SelectedBug >= 0 && World_.SelectedBug < World_.BugCount;
  const TShown now{Lines_.Version(), population ? World_.SelectedBug : -1, GenerationsBox->value(), population};
  if (now == Shown_) return;
  Shown_ = now;
  if (!population) {
    ParentsLabel->setText("no bug selected");
    Tree->SetAncestry({}, 0);
    return;
  }
  ParentsLabel->setText(QStringLiteral("Bug %1: %2")
                            .arg(World_.SelectedBug)
                            .arg(ParentsText(Lines_.Of(Lines_.Newest(), World_.SelectedBug), World_.Generation)));
  Tree->SetAncestry(Ancestry(Lines_, World_.SelectedBug, GenerationsBox->value()), World_.BugCount);
}

}  // namespace zemlix
