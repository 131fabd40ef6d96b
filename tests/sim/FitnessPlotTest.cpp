#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "files/FitnessPlot.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/XmlFault.h"

namespace zemlix {
namespace {

using testing::XmlFault;

size_t CountPoints(const std::string& svg, const std::string& series) {
  const std::string marker = "class=\"" + series + "\"";
  const size_t line = svg.find(marker);
  if (line == std::string::npos) return 0;
  const size_t start = svg.find("points=\"", line) + 8;
  const std::string points = svg.substr(start, svg.find('"', start) - start);
  if (points.empty()) return 0;
  size_t count = 1;
  for (char c : points) count += c == ' ';
  return count;
}

std::vector<TGenerationReport> Reports(int count) {
  std::vector<TGenerationReport> reports;
  for (int g = 1; g <= count; ++g) reports.push_back({g, 0.5 * g, 3 * g, 0, 15 * g});
  return reports;
}

TEST(FitnessPlot, IsWellFormedWithOnePointPerGeneration) {
  for (int generations : {0, 1, 2, 37}) {
    SCOPED_TRACE(generations);
    const std::string svg = FormatFitnessPlot(Reports(generations), "Zemlix: seed 7 <test> & \"more\"");
    EXPECT_EQ(XmlFault(svg), "");
    EXPECT_EQ(CountPoints(svg, "average"), static_cast<size_t>(generations));
    EXPECT_EQ(CountPoints(svg, "best"), static_cast<size_t>(generations));
    EXPECT_NE(svg.find("Zemlix: seed 7 &lt;test&gt; &amp; &quot;more&quot;"), std::string::npos);
    EXPECT_NE(svg.find(">generation</text>"), std::string::npos);
    EXPECT_NE(svg.find(">average</text>"), std::string::npos);
    EXPECT_NE(svg.find(">best</text>"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
  }
  EXPECT_NE(FormatFitnessPlot({}, "t").find("no generation has ended yet"), std::string::npos);
  EXPECT_NE(FormatFitnessPlot(Reports(1), "t").find("<circle"), std::string::npos);
}

TEST(FitnessPlot, PointsStayInsideThePlotAndRiseWithFitness) {
  const std::string svg = FormatFitnessPlot(Reports(10), "t");
  const size_t start = svg.find("points=\"", svg.find("class=\"best\"")) + 8;
  const std::string points = svg.substr(start, svg.find('"', start) - start);
  double previousX = -1, previousY = 1e9;
  for (size_t at = 0; at < points.size();) {
    const size_t comma = points.find(',', at);
    size_t end = points.find(' ', comma);
    if (end == std::string::npos) end = points.size();
    const double x = std::stod(points.substr(at, comma - at));
    const double y = std::stod(points.substr(comma + 1, end - comma - 1));
    EXPECT_GT(x, previousX);
    EXPECT_LT(y, previousY);  // higher fitness is further up
    EXPECT_GE(x, 0);
    EXPECT_LE(x, 800);
    EXPECT_GE(y, 0);
    EXPECT_LE(y, 500);
    previousX = x;
    previousY = y;
    at = end + 1;
  }
}

// The labels under the generation axis, left to right: the texts whose baseline is the
// lowest of all tick labels (the axis name sits lower still and is excluded by its text).
std::vector<std::string> GenerationLabels(const std::string& svg) {
  std::vector<std::pair<std::string, std::string>> texts;  // (y, text)
  for (size_t at = svg.find("<text "); at != std::string::npos; at = svg.find("<text ", at + 1)) {
    const size_t y = svg.find(" y=\"", at) + 4;
    const size_t open = svg.find('>', at) + 1;
    texts.emplace_back(svg.substr(y, svg.find('"', y) - y), svg.substr(open, svg.find('<', open) - open));
  }
  std::string axisY;
  for (const auto& [y, text] : texts)
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) && std::stod(y) > std::stod(axisY.empty() ? "0" : axisY))
      axisY = y;
  std::vector<std::string> labels;
  for (const auto& [y, text] : texts)
    if (y == axisY) labels.push_back(text);
  return labels;
}

TEST(FitnessPlot, GenerationTicksAreWholeGenerationsOfTheRun) {
  const struct {
    int Generations;
    std::vector<std::string> Labels;
  } cases[] = {
      {3, {"1", "2", "3"}},
      {2, {"1", "2"}},
      {10, {"2", "4", "6", "8", "10"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Generations);
    EXPECT_EQ(GenerationLabels(FormatFitnessPlot(Reports(c.Generations), "t")), c.Labels);
  }
}

// The points of the polyline or polygon after `marker`, as (x, y).
std::vector<std::pair<double, double>> PointsAfter(const std::string& svg, const std::string& marker) {
  std::vector<std::pair<double, double>> points;
  const size_t shape = svg.find(marker);
  if (shape == std::string::npos) return points;
  const size_t start = svg.find("points=\"", shape) + 8;
  std::istringstream in(svg.substr(start, svg.find('"', start) - start));
  double x = 0, y = 0;
  char comma = 0;
  while (in >> x >> comma >> y) points.emplace_back(x, y);
  return points;
}

// A sweep's band runs along the upper bound from the first generation to the last and back
// along the lower bound, every generation on each: under and over the mean line's points.
TEST(FitnessPlot, TheConfidenceBandHoldsEveryGenerationOnBothSides) {
  for (size_t generations : {1u, 2u, 5u}) {
    SCOPED_TRACE(generations);
    TPlotSeries series{"mutation_rate=0.2", {}, {}, {}};
    for (size_t g = 0; g < generations; ++g) {
      series.Mean.push_back(2.0 + g);
      series.Low.push_back(1.0 + g);
      series.High.push_back(3.5 + g);
    }
    const std::string svg = FormatSweepPlot({series}, "t");
    const auto mean = PointsAfter(svg, "class=\"mean\"");
    const auto band = PointsAfter(svg, "class=\"band\"");
    ASSERT_EQ(mean.size(), generations);
    ASSERT_EQ(band.size(), 2 * generations);
    for (size_t g = 0; g < generations; ++g) {
      const auto& upper = band[g];
      const auto& lower = band[2 * generations - 1 - g];
      EXPECT_EQ(upper.first, mean[g].first) << g;
      EXPECT_EQ(lower.first, mean[g].first) << g;
      EXPECT_LT(upper.second, mean[g].second) << g;  // higher is further up
      EXPECT_GT(lower.second, mean[g].second) << g;
    }
  }
}

TEST(FitnessPlot, TheRunnerDrawsItsGenerationsAndSettings) {
  testing::TScratchDirectory dir;
  const auto run = testing::RunSim({"--quiet", "--seed", "7", "--lifetime", "500", "--generations", "3", "--plot",
                                    dir / "run.svg"});
  ASSERT_EQ(run.Status, 0) << run.Error;
  EXPECT_EQ(run.Out, "");
  const std::string svg = testing::ReadFile(dir.Path / "run.svg");
  EXPECT_EQ(XmlFault(svg), "");
  EXPECT_EQ(CountPoints(svg, "average"), 3u);
  EXPECT_NE(svg.find("Zemlix: seed 7, 30 bugs, 40 food, lifetime 500, 3 generations"), std::string::npos);
}

// The legend stands beside the plot, never over a curve, and a band stops at 0 where no
// mean lies below it.
TEST(FitnessPlot, NeitherLegendNorBandLeavesWhereItBelongs) {
  TPlotSeries series{"mutation_rate=0.2", {0.5, 4.0}, {-1.5, 3.0}, {2.5, 5.0}};
  const std::string svg = FormatSweepPlot({series}, "t");
  const auto band = PointsAfter(svg, "class=\"band\"");
  const auto mean = PointsAfter(svg, "class=\"mean\"");
  ASSERT_EQ(band.size(), 4u);
  ASSERT_EQ(mean.size(), 2u);
  const double zero = mean[0].second + (mean[0].second - mean[1].second) * 0.5 / 3.5;  // y of fitness 0
  EXPECT_NEAR(band[3].second, zero, 0.02);  // the first generation's lower bound, clipped
  double rightmost = 0;
  for (const auto& point : band) rightmost = std::max(rightmost, point.first);
  const size_t legend = svg.find("stroke=\"#999999\"");
  ASSERT_NE(legend, std::string::npos);
  const size_t x = svg.rfind("<rect x=\"", legend) + 9;
  EXPECT_GT(std::stod(svg.substr(x)), rightmost);
}

TEST(FitnessPlot, TitlesCountInTheRightNumber) {
  testing::TScratchDirectory dir;
  ASSERT_EQ(testing::RunSim({"--quiet", "--seed", "7", "--lifetime", "500", "--generations", "1", "--plot",
                             dir / "run.svg"}).Status, 0);
  EXPECT_NE(testing::ReadFile(dir.Path / "run.svg").find("lifetime 500, 1 generation</title>"), std::string::npos);
  ASSERT_EQ(testing::RunSim({"--quiet", "--seeds", "3", "--lifetime", "500", "--generations", "1", "--csv",
                             dir / "s.csv", "--plot", dir / "s.svg"}).Status, 0);
  EXPECT_NE(testing::ReadFile(dir.Path / "s.svg").find("over seed 3</title>"), std::string::npos);
}

}  // namespace
}  // namespace zemlix
