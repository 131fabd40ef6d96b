#include "files/FitnessPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace zemlix {
namespace {

// The plot area is the same in every picture; the legend stands to its right, so that it
// never covers a curve, and the picture is as wide as the legend needs.
constexpr double Height = 500;
constexpr double Left = 80;
constexpr double Top = 60;
constexpr double Bottom = 70;
constexpr double PlotWidth = 690;
constexpr double PlotHeight = Height - Top - Bottom;
constexpr double LegendGap = 20;
constexpr double Right = 20;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string Label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::abs(value) < 1e-9 ? 0.0 : value);
  return text;
}

struct TAxis {
  double Low, High, Step;
};

void AppendText(std::string& svg, double x, double y, const std::string& anchor, const std::string& text,
                const std::string& extra = {}) {
  svg += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" +
         EscapeXml(text) + "</text>\n";
}

double ToX(const TAxis& x, double g) { return Left + (g - x.Low) / (x.High - x.Low) * PlotWidth; }
double ToY(const TAxis& y, double f) { return Top + PlotHeight - (f - y.Low) / (y.High - y.Low) * PlotHeight; }

// The picture up to the curves: title, grid, ticks with labels, axes and their names.
std::string PlotFrame(const std::string& title, const TAxis& x, const TAxis& y, double Width) {
  const auto toX = [&x](double g) { return ToX(x, g); };
  const auto toY = [&y](double f) { return ToY(y, f); };
  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(Width) + "\" height=\"" + Number(Height) +
         "\" viewBox=\"0 0 " + Number(Width) + " " + Number(Height) +
         "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"13\">\n";
  svg += "<title>" + EscapeXml(title) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Number(Width) + "\" height=\"" + Number(Height) + "\" fill=\"white\"/>\n";
  AppendText(svg, Left + PlotWidth / 2, 30, "middle", title, " font-size=\"15\" font-weight=\"bold\"");

  // Grid lines and tick labels.
  svg += "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
  std::string labels;
  const double firstTick = std::ceil(x.Low / x.Step - 1e-9) * x.Step;
  for (double g = firstTick; g <= x.High + 1e-9 * x.Step; g += x.Step) {
    const std::string px = Number(toX(g));
    svg += "<line x1=\"" + px + "\" y1=\"" + Number(Top) + "\" x2=\"" + px + "\" y2=\"" + Number(Top + PlotHeight) +
           "\"/>\n";
    labels += "<line x1=\"" + px + "\" y1=\"" + Number(Top + PlotHeight) + "\" x2=\"" + px + "\" y2=\"" +
              Number(Top + PlotHeight + 6) + "\" stroke=\"black\"/>\n";
    AppendText(labels, toX(g), Top + PlotHeight + 22, "middle", Label(g));
  }
  for (double f = y.Low; f <= y.High + 1e-9 * y.Step; f += y.Step) {
    const std::string py = Number(toY(f));
    svg += "<line x1=\"" + Number(Left) + "\" y1=\"" + py + "\" x2=\"" + Number(Left + PlotWidth) + "\" y2=\"" + py +
           "\"/>\n";
    labels += "<line x1=\"" + Number(Left - 6) + "\" y1=\"" + py + "\" x2=\"" + Number(Left) + "\" y2=\"" + py +
              "\" stroke=\"black\"/>\n";
    AppendText(labels, Left - 10, toY(f) + 4, "end", Label(f));
  }
  svg += "</g>\n" + labels;

  // Axes and their names.
  svg += "<polyline fill=\"none\" stroke=\"black\" stroke-width=\"1.5\" points=\"" + Number(Left) + "," +
         Number(Top) + " " + Number(Left) + "," + Number(Top + PlotHeight) + " " + Number(Left + PlotWidth) + "," +
         Number(Top + PlotHeight) + "\"/>\n";
  AppendText(svg, Left + PlotWidth / 2, Height - 20, "middle", "generation");
  AppendText(svg, 22, Top + PlotHeight / 2, "middle", "fitness (pellets eaten per bug)",
             " transform=\"rotate(-90 22 " + Number(Top + PlotHeight / 2) + ")\"");

  return svg;
}

// A fitness axis from 0 (or below) to a round value above the highest.
TAxis FitnessAxis(double lowest, double highest) {
  TAxis y{lowest, highest, 0};
  y.Step = NiceStep(y.High - y.Low, 6, 1e-6);
  y.Low = std::floor(y.Low / y.Step) * y.Step;
  y.High = std::ceil(y.High / y.Step) * y.Step;
  return y;
}

void AppendCurve(std::string& svg, const char* cls, const std::string& colour, const std::string& points) {
  svg += std::string("<polyline class=\"") + cls + "\" fill=\"none\" stroke=\"" + colour +
         "\" stroke-width=\"2\" stroke-linejoin=\"round\" points=\"" + points + "\"/>\n";
}

// The width of a legend whose longest name has `widest` characters.
double LegendWidth(size_t widest) { return 60 + 7.5 * static_cast<double>(widest); }

// A legend box right of the plot, level with its top: one row per entry (its colour's
// line, its name).
void AppendLegend(std::string& svg, const std::vector<std::pair<std::string, std::string>>& entries, double width) {
  const double legendX = Left + PlotWidth + LegendGap, legendY = Top;
  svg += "<rect x=\"" + Number(legendX) + "\" y=\"" + Number(legendY) + "\" width=\"" + Number(width) +
         "\" height=\"" + Number(10 + 20.0 * static_cast<double>(entries.size())) +
         "\" fill=\"white\" stroke=\"#999999\"/>\n";
  for (size_t k = 0; k < entries.size(); ++k) {
    const double rowY = legendY + 17 + 20.0 * static_cast<double>(k);
    svg += "<line x1=\"" + Number(legendX + 10) + "\" y1=\"" + Number(rowY) + "\" x2=\"" + Number(legendX + 40) +
           "\" y2=\"" + Number(rowY) + "\" stroke=\"" + entries[k].second + "\" stroke-width=\"2\"/>\n";
    AppendText(svg, legendX + 50, rowY + 4, "start", entries[k].first);
  }
}

size_t Widest(const std::vector<std::pair<std::string, std::string>>& entries) {
  size_t widest = 0;
  for (const auto& entry : entries) widest = std::max(widest, entry.first.size());
  return widest;
}

}  // namespace

double NiceStep(double span, int parts, double smallest) {
  const double raw = std::max(span / parts, smallest);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10 * power;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` that XML allows as a character, or 0.
size_t XmlCharacterLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(k) & 0x3F);
  }
  const uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool allowed = code >= shortest[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
                       code != 0xFFFE && code != 0xFFFF;
  return allowed ? length : 0;
}

}  // namespace

std::string EscapeXml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = XmlCharacterLength(text, at);
    if (length == 0) {
      // A file name may hold any byte; an SVG must stay well-formed XML whatever it shows.
      out += "\xEF\xBF\xBD";
      ++at;
      continue;
    }
    switch (text[at]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

std::string FormatFitnessPlot(const std::vector<TGenerationReport>& generations, const std::string& title) {
  // The generation axis spans the run (at least one step); the fitness axis starts at 0
  // and ends on a tick above the highest value.
  double firstGeneration = generations.empty() ? 0 : generations.front().Generation;
  double lastGeneration = generations.empty() ? 1 : generations.back().Generation;
  if (lastGeneration <= firstGeneration) lastGeneration = firstGeneration + 1;
  double highest = 1;
  double lowest = 0;
  for (const TGenerationReport& report : generations)
    for (double value : {report.AverageFitness, static_cast<double>(report.BestFitness)}) {
      highest = std::max(highest, value);
      lowest = std::min(lowest, value);
    }
  TAxis x{firstGeneration, lastGeneration, NiceStep(lastGeneration - firstGeneration, 8, 1)};
  const TAxis y = FitnessAxis(lowest, highest);

  const auto toX = [&x](double g) { return ToX(x, g); };
  const auto toY = [&y](double f) { return ToY(y, f); };

  const std::vector<std::pair<std::string, std::string>> legend = {{"best", BestColour}, {"average", AverageColour}};
  const double legendWidth = LegendWidth(Widest(legend));
  std::string svg = PlotFrame(title, x, y, Left + PlotWidth + LegendGap + legendWidth + Right);
  // The two series.
  const auto series = [&](const char* name, const char* colour, auto value) {
    std::string points;
    for (const TGenerationReport& report : generations) {
      if (!points.empty()) points += ' ';
      points += Number(toX(report.Generation)) + "," + Number(toY(value(report)));
    }
    AppendCurve(svg, name, colour, points);
    if (generations.size() == 1)
      svg += "<circle cx=\"" + Number(toX(generations[0].Generation)) + "\" cy=\"" +
             Number(toY(value(generations[0]))) + "\" r=\"4\" fill=\"" + colour + "\"/>\n";
  };
  series("best", BestColour, [](const TGenerationReport& r) { return static_cast<double>(r.BestFitness); });
  series("average", AverageColour, [](const TGenerationReport& r) { return r.AverageFitness; });
  if (generations.empty())
    AppendText(svg, Left + PlotWidth / 2, Top + PlotHeight / 2, "middle", "no generation has ended yet",
               " fill=\"#777777\"");

  AppendLegend(svg, legend, legendWidth);
  svg += "</svg>\n";
  return svg;
}

std::string FormatSweepPlot(const std::vector<TPlotSeries>& series, const std::string& title) {
  static const char* const colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                                        "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};
  size_t generations = 1;
  // Fitness is not negative unless a mean is: a band is clipped where the values can lie,
  // and the axis starts at 0 unless a mean is below it.
  double floor = 0;
  for (const TPlotSeries& s : series)
    for (double v : s.Mean) floor = std::min(floor, v);
  const auto clipped = [floor](double v) { return std::max(v, floor); };
  double lowest = floor, highest = 1;
  for (const TPlotSeries& s : series) {
    generations = std::max(generations, s.Mean.size());
    for (const std::vector<double>* values : {&s.Mean, &s.High})
      for (double v : *values) highest = std::max(highest, v);
  }
  const double last = std::max<double>(generations, 2);
  const TAxis x{1, last, NiceStep(last - 1, 8, 1)};
  const TAxis y = FitnessAxis(lowest, highest);
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t k = 0; k < series.size(); ++k) entries.emplace_back(series[k].Name, colours[k % std::size(colours)]);
  const double legendWidth = LegendWidth(Widest(entries));
  std::string svg = PlotFrame(title, x, y, Left + PlotWidth + LegendGap + legendWidth + Right);
  // Bands first, so that no band hides a line; each band is the interval around its mean.
  for (size_t k = 0; k < series.size(); ++k) {
    const TPlotSeries& s = series[k];
    if (s.Low.size() != s.Mean.size() || s.Mean.empty()) continue;
    std::string points;
    for (size_t g = 0; g < s.High.size(); ++g)
      points += Number(ToX(x, g + 1.0)) + "," + Number(ToY(y, clipped(s.High[g]))) + " ";
    for (size_t g = s.Low.size(); g-- > 0;) points += Number(ToX(x, g + 1.0)) + "," + Number(ToY(y, clipped(s.Low[g]))) + " ";
    points.pop_back();
    svg += std::string("<polygon class=\"band\" fill=\"") + colours[k % std::size(colours)] +
           "\" fill-opacity=\"0.15\" stroke=\"none\" points=\"" + points + "\"/>\n";
  }
  for (size_t k = 0; k < series.size(); ++k) {
    std::string points;
    for (size_t g = 0; g < series[k].Mean.size(); ++g) {
      if (!points.empty()) points += ' ';
      points += Number(ToX(x, g + 1.0)) + "," + Number(ToY(y, series[k].Mean[g]));
    }
    AppendCurve(svg, "mean", colours[k % std::size(colours)], points);
  }
  AppendLegend(svg, entries, legendWidth);
  svg += "</svg>\n";
  return svg;
}

}  // namespace zemlix
