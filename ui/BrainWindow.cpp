#include "ui/BrainWindow.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
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
  void paintEvent(QPaintEvent* event) override { Window_.Paint(*this, event->region()); }
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
  RepaintTimer_ = new QTimer(this);
  RepaintTimer_->setSingleShot(true);
  RepaintTimer_->setTimerType(Qt::PreciseTimer);
  connect(RepaintTimer_, &QTimer::timeout, this, [this] {
    for (size_t k = 0; k < Changed_.size(); ++k)
      if (Changed_[k]) Canvas_->update(NodeRect(Layout_.Nodes[k]));
    std::fill(Changed_.begin(), Changed_.end(), false);
  });
  Refresh();
}

void TBrainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  const QScreen* screen = this->screen();
  const double rate = screen && screen->refreshRate() >= 1 ? screen->refreshRate() : 60;
  RepaintTimer_->setInterval(static_cast<int>(1000 / rate));
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
  const std::optional<int32_t> bug = selected ? std::optional<int32_t>(world.SelectedBug) : std::nullopt;
  const bool known = selected && world.KeptActivationsBug == *bug;
  // Within a generation a bug's weights and the picture's texts stay as they are: a frame
  // only refills the nodes, as LayOutBugBrain would fill them.
  if (selected && bug == Bug_ && known && Known_ && world.Generation == Generation_ &&
      world.KeptActivations.size() == Layout_.Nodes.size() &&
      std::ranges::equal(world.Nets[*bug].Weights(), Weights_)) {
    for (size_t k = 0; k < Layout_.Nodes.size(); ++k) {
      TBrainNode& node = Layout_.Nodes[k];
      const double value = world.KeptActivations[k];
      const TRgb fill = ActivationFill(value);
      if (fill != node.Fill) Changed_[k] = true;
      node.Value = value;
      node.Fill = fill;
    }
    // The values follow every frame; the screen shows no more pictures than its refresh
    // rate, so the nodes are repainted at most that often (the frames can be far more).
    if (!RepaintTimer_->isActive() && std::ranges::find(Changed_, true) != Changed_.end()) RepaintTimer_->start();
    return;
  }
  RepaintTimer_->stop();
  Bug_ = bug;
  Known_ = known;
  Generation_ = world.Generation;
  Weights_.clear();
  if (selected) Weights_.assign(world.Nets[*bug].Weights().begin(), world.Nets[*bug].Weights().end());
  Layout_ = selected ? LayOutBugBrain(world, *bug) : TBrainLayout{};
  Changed_.assign(Layout_.Nodes.size(), false);
  Backdrop_ = QPixmap();
  NodePictures_.clear();
  Canvas_->update();
  if (ExportButton->isEnabled() != selected) ExportButton->setEnabled(selected);
  UpdateTitle();
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

QRect TBrainWindow::NodeRect(const TBrainNode& node) const {
  const double reach = node.Radius + 2;  // the outline and its antialiasing
  return PictureToCanvas().mapRect(QRectF(node.X - reach, node.Y - reach, 2 * reach, 2 * reach)).toAlignedRect();
}

namespace {

void DrawLine(QPainter& painter, const TBrainEdge& edge) {
  QPen pen(ToColor(edge.Colour, edge.Opacity), edge.Width);
  pen.setCapStyle(Qt::RoundCap);
  painter.setPen(pen);
  painter.drawLine(QPointF(edge.X1, edge.Y1), QPointF(edge.X2, edge.Y2));
}

void DrawNode(QPainter& painter, const TBrainNode& node) {
  painter.setPen(QPen(QColor(51, 51, 51), 1));
  painter.setBrush(ToColor(node.Fill));
  painter.drawEllipse(QPointF(node.X, node.Y), node.Radius, node.Radius);
}

}  // namespace

void TBrainWindow::PaintBackdrop() {
  const qreal ratio = Canvas_->devicePixelRatioF();
  Backdrop_ = QPixmap(Canvas_->size() * ratio);
  Backdrop_.setDevicePixelRatio(ratio);
  Backdrop_.fill(Qt::white);
  QPainter painter(&Backdrop_);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setTransform(PictureToCanvas());
  for (const TBrainEdge& edge : Layout_.Edges) DrawLine(painter, edge);
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
  for (const TBrainEdge& line : Layout_.KeyLines) DrawLine(painter, line);
  for (const TBrainNode& swatch : Layout_.KeySwatches) DrawNode(painter, swatch);
}

const QPixmap& TBrainWindow::NodePicture(const TBrainNode& node) {
  const uint32_t key = uint32_t{node.Fill.R} << 16 | uint32_t{node.Fill.G} << 8 | node.Fill.B;
  const auto found = NodePictures_.find(key);
  if (found != NodePictures_.end()) return found->second;
  // The node drawn once per fill at the canvas's scale, centred on its picture.
  const QTransform transform = PictureToCanvas();
  const double scale = transform.m11();
  const double reach = (node.Radius + 2) * scale;
  const qreal ratio = Canvas_->devicePixelRatioF();
  QPixmap picture(QSize(static_cast<int>(std::ceil(2 * reach)), static_cast<int>(std::ceil(2 * reach))) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(reach, reach);
  painter.scale(scale, scale);
  TBrainNode centred = node;
  centred.X = centred.Y = 0;
  DrawNode(painter, centred);
  return NodePictures_.emplace(key, std::move(picture)).first->second;
}

void TBrainWindow::Paint(QWidget& canvas, const QRegion& region) {
  QPainter painter(&canvas);
  if (!Bug_) {
    painter.fillRect(canvas.rect(), Qt::white);
    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(102, 102, 102));
    painter.drawText(canvas.rect(), Qt::AlignCenter, "no bug selected");
    return;
  }
  if (Backdrop_.isNull() || Backdrop_.deviceIndependentSize() != QSizeF(canvas.size())) {
    PaintBackdrop();
    NodePictures_.clear();
  }
  // Only what the region asks for: a frame repaints a few nodes' squares, each node a picture
  // made once per fill.
  const qreal ratio = Backdrop_.devicePixelRatio();
  for (const QRect& rect : region)
    painter.drawPixmap(rect, Backdrop_,
                       QRectF(rect.x() * ratio, rect.y() * ratio, rect.width() * ratio, rect.height() * ratio));
  const QTransform transform = PictureToCanvas();
  for (const TBrainNode& node : Layout_.Nodes) {
    const QRect rect = NodeRect(node);
    if (!region.intersects(rect)) continue;
    const QPixmap& picture = NodePicture(node);
    const QPointF centre = transform.map(QPointF(node.X, node.Y));
    const QSizeF size = picture.deviceIndependentSize();
    painter.drawPixmap(QPointF(centre.x() - size.width() / 2, centre.y() - size.height() / 2), picture);
  }
}

}  // namespace zemlix
