#pragma once

#include <QWidget>
#include <vector>

#include "world/World.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QLabel;
QT_END_NAMESPACE

namespace zemlix {

// A window with average and best fitness against generation. It is told about every
// generation end and redraws only then, never per frame, so an open chart costs the frame
// loop nothing.
class TFitnessChart : public QWidget {
  Q_OBJECT

 public:
  explicit TFitnessChart(QWidget* parent = nullptr);

  // Replaces everything shown: a new run or a world opened with its history.
  void SetHistory(const std::vector<TGenerationReport>& history, const QString& title);
  void Append(const TGenerationReport& report);

  QChart* Chart() const { return Chart_; }
  QLineSeries* AverageSeries() const { return Average_; }
  QLineSeries* BestSeries() const { return Best_; }
  QValueAxis* GenerationAxis() const { return GenerationAxis_; }
  // Shown over the plot while no generation has ended.
  QLabel* EmptyText() const { return EmptyText_; }
  // What the pointer over `series` at `point` shows: the generation and both values there.
  QString HoverText(const QPointF& point) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Extend(const TGenerationReport& report);
  void ApplyRanges();

  QChart* Chart_;
  QChartView* View_;
  QLineSeries* Average_;
  QLineSeries* Best_;
  QValueAxis* GenerationAxis_;
  QValueAxis* FitnessAxis_;
  QLabel* EmptyText_;
  int32_t FirstGeneration_ = 0;
  int32_t LastGeneration_ = 0;
  double Lowest_ = 0;
  double Highest_ = 0;
};

}  // namespace zemlix
