#include "ui/BrainWindow.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>

#include "ui/MainUnit.h"
#include "ui/UserLocale.h"

namespace zemlix {
namespace {

QColor ToColor(TRgb rgb, double opacity = 1) {
  return QColor(rgb.R, rgb.G, rgb.B, static_cast<int>(std::lround(opacity * 255)));
}

QFont TextFont(const TBrainText& text) {
  QFont font("DejaVu Sans");
  font.setPixelSize(static_cast<int>(std::lround(text.Size)));
  font.setBold(text.Bold);
  return font;
}

}  // namespace

// The drawing itself: paints the window's layout and shows a node's value under the pointer.
class TBrainCanvas : public QWidget {
 public:
  explicit TBrainCanvas(TBrainWindow& window) : QWidget(&window), Window_(window) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
  }

 protected:
  void paintEvent(QPaintEvent*) override { Window_.Paint(*this); }
  void mouseMoveEvent(QMouseEvent* event) override {
    const QString text = Window_.HoverText(event->position());
    if (text.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(event->globalPosition().toPoint(), text, this);
  }

 private:
  TBrainWindow& Window_;
};

TBrainWindow::TBrainWindow(TMain& client, QWidget* parent)
    : QWidget(parent, Qt::Window), Client_(client), Canvas_(new TBrainCanvas(*this)) {
  resize(700, 420);
  ExportButton = new QPushButton("Export Brain (SVG)…", this);
  auto* bar = new QHBoxLayout;
  bar->addStretch();
  bar->addWidget(ExportButton);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(bar);
  layout->addWidget(Canvas_, 1);
  Refresh();
}

void TBrainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Client_.KeepSelectedActivations = true;
  Refresh();
}

void TBrainWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  Client_.KeepSelectedActivations = false;
}

void TBrainWindow::Refresh() {
  const TWorld& world = Client_.World;
  const bool selected = world.HasPopulation() && world.SelectedBug >= 0 && world.SelectedBug < world.BugCount;
  Bug_ = selected ? std::optional<int32_t>(world.SelectedBug) : std::nullopt;
  Layout_ = selected ? LayOutBugBrain(world, world.SelectedBug) : TBrainLayout{};
  ExportButton->setEnabled(selected);
  UpdateTitle();
  Canvas_->update();
}

void TBrainWindow::UpdateTitle() {
  QString title = "Brain";
  if (Bug_) {
    title += QStringLiteral(" of bug %1").arg(*Bug_);
    if (DescribeBug) {
      const QString description = DescribeBug(*Bug_);
      if (!description.isEmpty()) title += " (" + description + ")";
    }
  }
  title += " — Zemlix";
  // A title set anew every frame would make the window manager work every frame.
  if (title != Title_) setWindowTitle(Title_ = title);
}

QTransform TBrainWindow::PictureToCanvas() const {
  if (Layout_.Width <= 0 || Layout_.Height <= 0) return {};
  const double scale = std::min(Canvas_->width() / Layout_.Width, Canvas_->height() / Layout_.Height);
  QTransform transform;
  transform.translate((Canvas_->width() - Layout_.Width * scale) / 2, (Canvas_->height() - Layout_.Height * scale) / 2);
  transform.scale(scale, scale);
  return transform;
}

QString TBrainWindow::HoverText(QPointF point) const {
  if (!Bug_) return {};
  const QPointF at = PictureToCanvas().inverted().map(point);
  const TBrainNode* node = BrainNodeAt(Layout_, at.x(), at.y());
  if (!node) return {};
  return QString::fromStdString(node->Name) + ": " +
         (node->Value ? ForPerson(BrainValueText(*node->Value)) : QString("not known"));
}

void TBrainWindow::Paint(QWidget& canvas) {
  QPainter painter(&canvas);
  painter.fillRect(canvas.rect(), Qt::white);
  if (!Bug_) {
    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(102, 102, 102));
    painter.drawText(canvas.rect(), Qt::AlignCenter, "no bug selected");
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setTransform(PictureToCanvas());
  const auto drawLine = [&painter](const TBrainEdge& edge) {
    QPen pen(ToColor(edge.Colour, edge.Opacity), edge.Width);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawLine(QPointF(edge.X1, edge.Y1), QPointF(edge.X2, edge.Y2));
  };
  const auto drawNode = [&painter](const TBrainNode& node) {
    painter.setPen(QPen(QColor(51, 51, 51), 1));
    painter.setBrush(ToColor(node.Fill));
    painter.drawEllipse(QPointF(node.X, node.Y), node.Radius, node.Radius);
  };
  for (const TBrainEdge& edge : Layout_.Edges) drawLine(edge);
  for (const TBrainNode& node : Layout_.Nodes) drawNode(node);
  for (const TBrainText& text : Layout_.Texts) {
    const QFont font = TextFont(text);
    painter.setFont(font);
    painter.setPen(ToColor(text.Colour));
    const QString string = QString::fromStdString(text.Text);
    const double width = QFontMetricsF(font).horizontalAdvance(string);
    const double x = text.Anchor == TBrainText::TAnchor::Start    ? text.X
                     : text.Anchor == TBrainText::TAnchor::Middle ? text.X - width / 2
                                                                  : text.X - width;
    painter.drawText(QPointF(x, text.Y), string);
  }
  for (const TBrainEdge& line : Layout_.KeyLines) drawLine(line);
  for (const TBrainNode& swatch : Layout_.KeySwatches) drawNode(swatch);
}

}  // namespace zemlix
