#include "files/BrainDrawing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/FormatFixed.h"
#include "files/FitnessPlot.h"

namespace zemlix {
namespace {

constexpr double LeftMargin = 170;   // room for the inputs' names
constexpr double RightMargin = 140;  // and the outputs'
constexpr double ColumnGap = 170;
constexpr double Top = 92;           // title, note and column captions above
constexpr double MinimumWidth = 620; // the key's width
constexpr double KeyHeight = 64;

constexpr TRgb PositiveColour{43, 131, 186};
constexpr TRgb NegativeColour{215, 25, 28};
constexpr TRgb ZeroColour{153, 153, 153};
constexpr TRgb HighColour{240, 128, 0};  // activation 1
constexpr TRgb LowColour{94, 60, 153};   // activation -1 (an input)
constexpr TRgb UnknownFill{230, 230, 230};
constexpr TRgb White{255, 255, 255};
constexpr TRgb TextColour{0, 0, 0};
constexpr TRgb NoteColour{102, 102, 102};
constexpr TRgb NodeOutline{51, 51, 51};

TRgb Mix(TRgb from, TRgb to, double t) {
  const auto channel = [t](uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(std::lround(a + (static_cast<double>(b) - a) * t));
  };
  return {channel(from.R, to.R), channel(from.G, to.G), channel(from.B, to.B)};
}

// A point whatever the C library's numeric locale: the file is for other programs.
std::string Number(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return std::string(text, result.ptr);
}

const char* AnchorName(TBrainText::TAnchor anchor) {
  switch (anchor) {
    case TBrainText::TAnchor::Start: return "start";
    case TBrainText::TAnchor::Middle: return "middle";
    case TBrainText::TAnchor::End: return "end";
  }
  return "start";
}

std::string NodeHover(const TBrainNode& node) {
  return node.Name + ": " + (node.Value ? BrainValueText(*node.Value) : std::string("not known"));
}

void AppendLine(std::string& svg, const char* cls, const TBrainEdge& edge) {
  svg += std::string("<line class=\"") + cls + "\" x1=\"" + Number(edge.X1) + "\" y1=\"" + Number(edge.Y1) +
         "\" x2=\"" + Number(edge.X2) + "\" y2=\"" + Number(edge.Y2) + "\" stroke=\"" + edge.Colour.Hex() +
         "\" stroke-width=\"" + Number(edge.Width) + "\" stroke-opacity=\"" + Number(edge.Opacity) + "\"/>\n";
}

void AppendCircle(std::string& svg, const char* cls, const TBrainNode& node, bool hover) {
  svg += std::string("<circle class=\"") + cls + "\" cx=\"" + Number(node.X) + "\" cy=\"" + Number(node.Y) +
         "\" r=\"" + Number(node.Radius) + "\" fill=\"" + node.Fill.Hex() + "\"";
  svg += hover ? "><title>" + EscapeXml(NodeHover(node)) + "</title></circle>\n" : std::string("/>\n");
}

}  // namespace

std::string TRgb::Hex() const {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", R, G, B);
  return text;
}

TRgb ActivationFill(double value) {
  if (std::isnan(value)) return UnknownFill;
  const double t = std::clamp(value, -1.0, 1.0);
  return t >= 0 ? Mix(White, HighColour, t) : Mix(White, LowColour, -t);
}

std::string BrainTitle(int32_t bug, int32_t generation) {
  return "Zemlix: bug " + std::to_string(bug) + ", generation " + std::to_string(generation);
}

TBrainLayout LayOutBugBrain(const TWorld& world, int32_t bug) {
  const bool kept = world.KeptActivationsBug == bug;
  return LayOutBrain(world.Nets[bug], kept ? std::span<const double>(world.KeptActivations) : std::span<const double>(),
                     BrainTitle(bug, world.Generation));
}

std::string BrainValueText(double value) { return FormatFixed(value, 6, 4); }

TBrainLayout LayOutBrain(const TNeuralNet& net, std::span<const double> activations, const std::string& title) {
  TBrainLayout layout;
  layout.Title = title;
  const int32_t columns = net.NumLayers + 1;
  std::vector<int32_t> sizes{net.NumInputs};
  size_t expected = static_cast<size_t>(net.NumInputs);
  for (int32_t k = 0; k < net.NumLayers; ++k) {
    sizes.push_back(net.LayerSize(k));
    expected += static_cast<size_t>(net.LayerSize(k));
  }
  const bool known = activations.size() == expected;
  const int32_t rows = std::max(1, *std::max_element(sizes.begin(), sizes.end()));
  // Small networks get roomy rows; a wide layer shrinks them, so that 64 neurons still fit
  // a screen.
  const double spacing = std::clamp(520.0 / rows, 9.0, 46.0);
  const double radius = std::min(14.0, spacing * 0.36);
  const double area = std::max(spacing * rows, 4 * 46.0);
  const double graphWidth = LeftMargin + ColumnGap * (columns - 1) + RightMargin;
  layout.Width = std::max(graphWidth, MinimumWidth);
  layout.Height = Top + area + KeyHeight;
  const double left = LeftMargin + (layout.Width - graphWidth) / 2;

  layout.Texts.push_back({layout.Width / 2, 28, title, TBrainText::TAnchor::Middle, 15, true, TextColour});
  layout.Texts.push_back({layout.Width / 2, 50,
                          known ? "fill: each node's activation in the last tick; edges: weights"
                                : "activations not known (no tick run for this bug yet); edges: weights",
                          TBrainText::TAnchor::Middle, 12, false, NoteColour});

  // Nodes, column by column, each column centred on the area.
  std::vector<std::vector<size_t>> columnNodes(columns);
  size_t at = 0;
  for (int32_t c = 0; c < columns; ++c) {
    const double x = left + ColumnGap * c;
    const double first = Top + (area - spacing * sizes[c]) / 2 + spacing / 2;
    const std::string caption = c == 0             ? "inputs"
                                : c == columns - 1 ? "outputs"
                                                   : "hidden layer " + std::to_string(c);
    layout.Texts.push_back({x, Top - 14, caption, TBrainText::TAnchor::Middle, 12, true, NoteColour});
    for (int32_t r = 0; r < sizes[c]; ++r, ++at) {
      TBrainNode node;
      node.X = x;
      node.Y = first + spacing * r;
      node.Radius = radius;
      node.Column = c;
      node.Row = r;
      if (c == 0)
        node.Name = r < static_cast<int32_t>(std::size(BrainInputNames)) ? BrainInputNames[r]
                                                                         : "input " + std::to_string(r + 1);
      else if (c == columns - 1 && r < static_cast<int32_t>(std::size(BrainOutputNames)))
        node.Name = BrainOutputNames[r];
      else
        node.Name = (c == columns - 1 ? "output " : "hidden layer " + std::to_string(c) + ", neuron ") +
                    std::to_string(r + 1);
      if (known) node.Value = activations[at];
      node.Fill = known ? ActivationFill(activations[at]) : UnknownFill;
      columnNodes[c].push_back(layout.Nodes.size());
      layout.Nodes.push_back(node);
      // The inputs and outputs are named beside them; the hidden ones on hover only.
      const double textY = node.Y + 4.5;
      if (c == 0)
        layout.Texts.push_back({x - radius - 8, textY, node.Name, TBrainText::TAnchor::End, 13, false, TextColour});
      else if (c == columns - 1)
        layout.Texts.push_back({x + radius + 8, textY, node.Name, TBrainText::TAnchor::Start, 13, false, TextColour});
    }
  }

  // Edges: colour by sign, width and opacity by |weight| against the network's largest.
  // A neuron's threshold weight is no edge; the edges are its input weights in flat order.
  const std::span<const double> weights = net.Weights();
  double largest = 0;
  for (double w : weights) largest = std::max(largest, std::abs(w));
  for (int32_t k = 0; k < net.NumLayers; ++k) {
    const int32_t inputs = net.LayerInputs(k);
    for (int32_t n = 0; n < net.LayerSize(k); ++n)
      for (int32_t i = 0; i < inputs; ++i) {
        const double w = weights[net.LayerOffset(k) + n * (inputs + 1) + 1 + i];
        const double share = largest > 0 && std::isfinite(w) ? std::min(std::abs(w) / largest, 1.0) : 0.0;
        const TBrainNode& from = layout.Nodes[columnNodes[k][i]];
        const TBrainNode& to = layout.Nodes[columnNodes[k + 1][n]];
        layout.Edges.push_back({from.X, from.Y, to.X, to.Y, 0.5 + 3.5 * share, 0.3 + 0.6 * share,
                                w > 0 ? PositiveColour : w < 0 ? NegativeColour : ZeroColour});
      }
  }

  // The key under the graph.
  const double keyY = Top + area + 34;
  const double keyX = (layout.Width - MinimumWidth) / 2 + 30;
  layout.KeyLines.push_back({keyX, keyY, keyX + 30, keyY, 3, 0.9, PositiveColour});
  layout.Texts.push_back({keyX + 38, keyY + 4.5, "positive weight", TBrainText::TAnchor::Start, 12, false, TextColour});
  layout.KeyLines.push_back({keyX + 150, keyY, keyX + 180, keyY, 3, 0.9, NegativeColour});
  layout.Texts.push_back({keyX + 188, keyY + 4.5, "negative weight", TBrainText::TAnchor::Start, 12, false, TextColour});
  const double swatchX = keyX + 330;
  const double swatchValues[] = {-1, 0, 1};
  for (int s = 0; s < 3; ++s) {
    TBrainNode swatch;
    swatch.X = swatchX + 28 + 40.0 * s;
    swatch.Y = keyY;
    swatch.Radius = 7;
    swatch.Fill = ActivationFill(swatchValues[s]);
    layout.KeySwatches.push_back(swatch);
    layout.Texts.push_back({swatch.X, keyY + 22, s == 0 ? "-1" : s == 1 ? "0" : "1", TBrainText::TAnchor::Middle, 11,
                            false, NoteColour});
  }
  layout.Texts.push_back({swatchX + 130, keyY + 4.5, "activation", TBrainText::TAnchor::Start, 12, false, TextColour});
  return layout;
}

const TBrainNode* BrainNodeAt(const TBrainLayout& layout, double x, double y) {
  for (const TBrainNode& node : layout.Nodes) {
    const double dx = x - node.X, dy = y - node.Y;
    // A little slack around small nodes, so that the pointer need not be exact.
    const double reach = std::max(node.Radius, 5.0) + 2;
    if (dx * dx + dy * dy <= reach * reach) return &node;
  }
  return nullptr;
}

std::string FormatBrainSvg(const TBrainLayout& layout) {
  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(layout.Width) + "\" height=\"" +
         Number(layout.Height) + "\" viewBox=\"0 0 " + Number(layout.Width) + " " + Number(layout.Height) +
         "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"13\">\n";
  svg += "<title>" + EscapeXml(layout.Title) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Number(layout.Width) + "\" height=\"" + Number(layout.Height) +
         "\" fill=\"white\"/>\n";
  svg += "<g fill=\"none\" stroke-linecap=\"round\">\n";
  for (const TBrainEdge& edge : layout.Edges) AppendLine(svg, "edge", edge);
  svg += "</g>\n<g stroke=\"" + NodeOutline.Hex() + "\" stroke-width=\"1\">\n";
  for (const TBrainNode& node : layout.Nodes) AppendCircle(svg, "node", node, true);
  svg += "</g>\n";
  for (const TBrainText& text : layout.Texts) {
    svg += "<text x=\"" + Number(text.X) + "\" y=\"" + Number(text.Y) + "\" text-anchor=\"" + AnchorName(text.Anchor) +
           "\" font-size=\"" + Number(text.Size) + "\"" + (text.Bold ? " font-weight=\"bold\"" : "") +
           (text.Colour == TextColour ? "" : " fill=\"" + text.Colour.Hex() + "\"") + ">" + EscapeXml(text.Text) +
           "</text>\n";
  }
  svg += "<g class=\"key\" stroke=\"" + NodeOutline.Hex() + "\" stroke-width=\"1\">\n";
  for (const TBrainEdge& line : layout.KeyLines) AppendLine(svg, "key", line);
  for (const TBrainNode& swatch : layout.KeySwatches) AppendCircle(svg, "key", swatch, false);
  svg += "</g>\n</svg>\n";
  return svg;
}

}  // namespace zemlix
