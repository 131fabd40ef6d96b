#include "ui/FitnessChart.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QLocale>
#include <QValueAxis>
#include <QLabel>
#include <QMouseEvent>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "files/FitnessPlot.h"

namespace zemlix {

TFitnessChart::TFitnessChart(QWidget* parent)
    : QWidget(parent, Qt::Window),
      Chart_(new QChart),
      Average_(new QLineSeries),
      Best_(new QLineSeries),
      GenerationAxis_(new QValueAxis),
      FitnessAxis_(new QValueAxis) {
  setWindowTitle("Fitness Chart — Zemlix");
  resize(560, 400);
  Average_->setName("Average fitness");
  Best_->setName("Best fitness");
  // The same colours as the SVG plot of the same run.
  Average_->setPen(QPen(QColor(AverageColour), 2));
  Best_->setPen(QPen(QColor(BestColour), 2));
  Chart_->addSeries(Average_);
  Chart_->addSeries(Best_);
  GenerationAxis_->setTitleText("Generation");
  GenerationAxis_->setLabelFormat("%.0f");
  FitnessAxis_->setTitleText("Fitness");
  FitnessAxis_->setLabelFormat("%.6g");
  Chart_->addAxis(GenerationAxis_, Qt::AlignBottom);
  Chart_->addAxis(FitnessAxis_, Qt::AlignLeft);
  for (QLineSeries* series : {Average_, Best_}) {
    series->attachAxis(GenerationAxis_);
    series->attachAxis(FitnessAxis_);
  }
  Chart_->legend()->setAlignment(Qt::AlignBottom);
  // Animations would repaint for a second after every generation end.
  Chart_->setAnimationOptions(QChart::NoAnimation);
  // The axes' numbers in the user's own notation (localised labels need a format with a
  // precision).
  Chart_->setLocale(QLocale());
  Chart_->setLocalizeNumbers(true);

  View_ = new QChartView(Chart_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(View_);
  EmptyText_ = new QLabel("No generation has ended yet", View_);
  EmptyText_->setAlignment(Qt::AlignCenter);
  EmptyText_->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The pointer anywhere over the plot shows the values of the nearest generation.
  View_->setMouseTracking(true);
  View_->viewport()->setMouseTracking(true);
  View_->viewport()->installEventFilter(this);
  SetHistory({}, QString());
}

void TFitnessChart::SetHistory(const std::vector<TGenerationReport>& history, const QString& title) {
  Chart_->setTitle(title);
  FirstGeneration_ = LastGeneration_ = 0;
  Lowest_ = Highest_ = 0;
  QList<QPointF> average, best;
  for (const TGenerationReport& report : history) {
    average.append(QPointF(report.Generation, report.AverageFitness));
    best.append(QPointF(report.Generation, report.BestFitness));
    Extend(report);
  }
  Average_->replace(average);
  Best_->replace(best);
  ApplyRanges();
}

void TFitnessChart::Append(const TGenerationReport& report) {
  Average_->append(report.Generation, report.AverageFitness);
  Best_->append(report.Generation, report.BestFitness);
  Extend(report);
  ApplyRanges();
}

void TFitnessChart::Extend(const TGenerationReport& report) {
  if (FirstGeneration_ == 0) FirstGeneration_ = report.Generation;
  LastGeneration_ = report.Generation;
  Lowest_ = std::min({Lowest_, report.AverageFitness, static_cast<double>(report.BestFitness)});
  Highest_ = std::max({Highest_, report.AverageFitness, static_cast<double>(report.BestFitness)});
}

void TFitnessChart::ApplyRanges() {
  EmptyText_->setVisible(Average_->count() == 0);
  // A line needs two points: a lone generation (a world just opened) is shown as dots.
  for (QLineSeries* series : {Average_, Best_}) series->setPointsVisible(series->count() == 1);
  EmptyText_->setGeometry(View_->rect());
  // Ticks on round values (1, 2 or 5 times a power of ten), as the SVG plot has them:
  // whole generations on the x axis, and room above the best so its line stays visible.
  // A lone generation sits in the middle, its dots away from the axes.
  const bool lone = Average_->count() == 1;
  const int32_t first = FirstGeneration_ == 0 ? 1 : FirstGeneration_ - (lone ? 1 : 0);
  const int32_t last = std::max(LastGeneration_ + (lone ? 1 : 0), first + 1);
  const double step = NiceStep(last - first, 8, 1);
  GenerationAxis_->setRange(first, last);
  GenerationAxis_->setTickType(QValueAxis::TicksDynamic);
  GenerationAxis_->setTickAnchor(std::ceil(first / step) * step);
  GenerationAxis_->setTickInterval(step);
  FitnessAxis_->setRange(Lowest_, std::max(Highest_ * 1.1, Lowest_ + 1));
  FitnessAxis_->applyNiceNumbers();
}

QString TFitnessChart::HoverText(const QPointF& point) const {
  // The generation nearest the pointer, with both of its values.
  const QList<QPointF> average = Average_->points();
  const QList<QPointF> best = Best_->points();
  if (average.isEmpty()) return {};
  qsizetype nearest = 0;
  for (qsizetype i = 1; i < average.size(); ++i)
    if (std::abs(average[i].x() - point.x()) < std::abs(average[nearest].x() - point.x())) nearest = i;
  const QLocale locale;
  return QStringLiteral("Generation %1\nAverage fitness %2\nBest fitness %3")
      .arg(locale.toString(average[nearest].x(), 'f', 0))
      .arg(locale.toString(average[nearest].y(), 'f', 2))
      .arg(locale.toString(best[nearest].y(), 'f', 0));
}

bool TFitnessChart::eventFilter(QObject* watched, QEvent* event) {
  if (watched == View_->viewport() && event->type() == QEvent::MouseMove) {
    const auto* move = static_cast<QMouseEvent*>(event);
    const QPointF scene = View_->mapToScene(move->position().toPoint());
    const QPointF inChart = Chart_->mapFromScene(scene);
    if (Chart_->plotArea().contains(inChart) && Average_->count() > 0)
      QToolTip::showText(move->globalPosition().toPoint(), HoverText(Chart_->mapToValue(inChart, Average_)), View_);
    else
      QToolTip::hideText();
  }
  return QWidget::eventFilter(watched, event);
}

void TFitnessChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  EmptyText_->setGeometry(View_->rect());
}

}  // namespace zemlix
