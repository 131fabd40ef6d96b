#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <unordered_map>
#include <vector>
#include <optional>

#include "files/BrainDrawing.h"

class QLabel;
class QPushButton;
class QTimer;

namespace zemlix {

class TMain;

// The selected bug's network, drawn from the layout the SVG export uses and filled with the
// activations the tick kept for it. Not modal: it follows the selection and is refreshed
// after every frame's drawing. While it is shown, the client asks the tick to keep the
// selected bug's activations; hidden, it costs the frame loop nothing.
class TBrainWindow : public QWidget {
  Q_OBJECT

 public:
  // The client must outlive the window.
  explicit TBrainWindow(TMain& client, QWidget* parent = nullptr);

  // Lays the selected bug out again from the world as it stands, and repaints.
  void Refresh();

  // The bug drawn, or none ("no bug selected").
  std::optional<int32_t> Bug() const { return Bug_; }
  const TBrainLayout& Layout() const { return Layout_; }
  // What the pointer over `point` (in the drawing's widget) shows, or empty off every node.
  QString HoverText(QPointF point) const;
  // The drawing's widget, where the pointer's hover texts come from.
  QWidget* Canvas() const { return Canvas_; }
  // The transform from picture units to the canvas: uniform scale, centred.
  QTransform PictureToCanvas() const;

  // Added to the title after the bug's number (its parents, say); may be empty.
  std::function<QString(int32_t bug)> DescribeBug;

  QPushButton* ExportButton;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  friend class TBrainCanvas;
  void Paint(QWidget& canvas, const QRegion& region);
  // Edges, texts and key: they change with the network, not with its activations, so a
  // frame repaints only the nodes whose fill changed, over this picture.
  void PaintBackdrop();
  QRect NodeRect(const TBrainNode& node) const;
  const QPixmap& NodePicture(const TBrainNode& node);
  void UpdateTitle();

  TMain& Client_;
  QWidget* Canvas_;
  std::optional<int32_t> Bug_;
  TBrainLayout Layout_;
  // What Layout_ was laid out from.
  bool Known_ = false;
  int32_t Generation_ = 0;
  std::vector<double> Weights_;
  QPixmap Backdrop_;  // null when it must be painted again
  std::unordered_map<uint32_t, QPixmap> NodePictures_;  // by fill, at the backdrop's scale
  std::vector<bool> Changed_;  // by node: its fill changed since it was last repainted
  QTimer* RepaintTimer_ = nullptr;
  QString Title_;
};

}  // namespace zemlix
