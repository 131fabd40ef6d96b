#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "files/BrainDrawing.h"
#include "tests/support/XmlFault.h"

namespace zemlix {
namespace {

using testing::XmlFault;

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// 4 inputs, 3 hidden, 2 outputs; weights chosen by hand, the largest |weight| 2.
TNeuralNet FixedNet() {
  TRandomGenerator random(1);
  TNeuralNet net(4, {3, 2}, false, random);
  std::vector<double> weights(net.CountWeights());
  for (size_t k = 0; k < weights.size(); ++k) weights[k] = (static_cast<int>(k % 5) - 2) * 0.25;
  weights[1] = 2;     // layer 0, neuron 0, input 0: the largest
  weights[2] = -1;    // input 1: half of it, negative
  weights[3] = 0;     // input 2: none
  net.PutWeights(weights);
  return net;
}

TEST(BrainDrawingTest, EdgesFollowTheWeightsAndNodesTheActivations) {
  const TNeuralNet net = FixedNet();
  const std::vector<double> activations = {-1, 0, 1, 0.5, 0.25, 0.75, 1, 0.125, 0.875};
  const TBrainLayout layout = LayOutBrain(net, activations, "bug <7> & co");
  ASSERT_EQ(layout.Nodes.size(), 9u);
  ASSERT_EQ(layout.Edges.size(), 4u * 3 + 3 * 2);
  struct TEdgeCase {
    size_t Edge;
    const char* Colour;
    double Width;
  };
  for (const TEdgeCase& c : {TEdgeCase{0, "#2b83ba", 4.0}, TEdgeCase{1, "#d7191c", 2.25},
                             TEdgeCase{2, "#999999", 0.5}}) {
    EXPECT_EQ(layout.Edges[c.Edge].Colour.Hex(), c.Colour) << c.Edge;
    EXPECT_DOUBLE_EQ(layout.Edges[c.Edge].Width, c.Width) << c.Edge;
  }
  // Edge 0 joins the first input to the first hidden neuron.
  EXPECT_EQ(layout.Edges[0].X1, layout.Nodes[0].X);
  EXPECT_EQ(layout.Edges[0].Y2, layout.Nodes[4].Y);
  struct TFillCase {
    double Value;
    const char* Fill;
  };
  for (const TFillCase& c : {TFillCase{-1, "#5e3c99"}, TFillCase{0, "#ffffff"}, TFillCase{1, "#f08000"},
                             TFillCase{0.5, "#f8c080"}, TFillCase{7, "#f08000"}})
    EXPECT_EQ(ActivationFill(c.Value).Hex(), c.Fill) << c.Value;
  for (size_t k = 0; k < layout.Nodes.size(); ++k) {
    EXPECT_EQ(layout.Nodes[k].Fill, ActivationFill(activations[k])) << k;
    EXPECT_EQ(layout.Nodes[k].Value, activations[k]) << k;
  }
  EXPECT_EQ(layout.Nodes[4].Name, "hidden layer 1, neuron 1");
  // The pointer finds a node at its centre and nothing far from every node.
  EXPECT_EQ(BrainNodeAt(layout, layout.Nodes[5].X + 1, layout.Nodes[5].Y - 1), &layout.Nodes[5]);
  EXPECT_EQ(BrainNodeAt(layout, 1, 1), nullptr);
}

TEST(BrainDrawingTest, SvgIsWellFormedWithPointsAndLabels) {
  const TNeuralNet net = FixedNet();
  const std::vector<double> activations = {-1, 0, 1, 0.5, 0.25, 0.75, 1, 0.125, 0.875};
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  // A comma locale must change nothing in a file meant for other programs.
  const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  const std::string svg = FormatBrainSvg(LayOutBrain(net, activations, "bug <7> & co"));
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(svg, FormatBrainSvg(LayOutBrain(net, activations, "bug <7> & co"))) << "locale changed the bytes: " << german;
  EXPECT_EQ(XmlFault(svg), "");
  EXPECT_EQ(Count(svg, "<circle class=\"node\""), 9u);
  EXPECT_EQ(Count(svg, "<line class=\"edge\""), 18u);
  for (const char* label : {"pellet direction x", "pellet direction y", "look direction x", "look direction y",
                            "left impulse", "right impulse", "hidden layer 1"})
    EXPECT_EQ(Count(svg, std::string(">") + label + "</"), 1u) << label;
  EXPECT_EQ(Count(svg, ">bug &lt;7&gt; &amp; co</"), 2u);  // the picture's title and the heading
  const TBrainLayout layout = LayOutBrain(net, activations, "t");
  const auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return std::string(text);
  };
  const TBrainEdge& edge = layout.Edges[0];
  EXPECT_NE(svg.find("<line class=\"edge\" x1=\"" + number(edge.X1) + "\" y1=\"" + number(edge.Y1) + "\" x2=\"" +
                     number(edge.X2) + "\" y2=\"" + number(edge.Y2) +
                     "\" stroke=\"#2b83ba\" stroke-width=\"4.00\" stroke-opacity=\"0.90\"/>"),
            std::string::npos);
  const TBrainNode& node = layout.Nodes[0];
  EXPECT_NE(svg.find("<circle class=\"node\" cx=\"" + number(node.X) + "\" cy=\"" + number(node.Y) + "\" r=\"" +
                     number(node.Radius) + "\" fill=\"#5e3c99\"><title>pellet direction x: -1.0000</title></circle>"),
            std::string::npos);
  EXPECT_NE(svg.find("<title>hidden layer 1, neuron 2: 0.7500</title>"), std::string::npos);
}

TEST(BrainDrawingTest, WithoutActivationsNodesSayNotKnown) {
  const TNeuralNet net = FixedNet();
  for (const std::vector<double>& activations : {std::vector<double>{}, std::vector<double>(8, 0.5)}) {
    const TBrainLayout layout = LayOutBrain(net, activations, "t");
    for (const TBrainNode& node : layout.Nodes) {
      EXPECT_FALSE(node.Value.has_value());
      EXPECT_EQ(node.Fill.Hex(), "#e6e6e6");
    }
    const std::string svg = FormatBrainSvg(layout);
    EXPECT_EQ(Count(svg, ": not known</title>"), 9u);
    EXPECT_EQ(Count(svg, "activations not known"), 1u);
  }
}

TEST(BrainDrawingTest, EveryShapeFitsItsPicture) {
  TRandomGenerator random(4);
  for (const std::vector<int32_t>& sizes :
       {std::vector<int32_t>{2}, {6, 2}, {64, 64, 64, 64, 2}, {1, 2}}) {
    const TNeuralNet net(4, sizes, false, random);
    const TBrainLayout layout = LayOutBrain(net, {}, "t");
    for (const TBrainNode& node : layout.Nodes) {
      EXPECT_GT(node.Y - node.Radius, 60);  // below the title and captions
      EXPECT_LT(node.Y + node.Radius, layout.Height - 40);  // above the key
      EXPECT_GT(node.X - node.Radius, 0);
      EXPECT_LT(node.X + node.Radius, layout.Width);
    }
    for (size_t k = 1; k < layout.Nodes.size(); ++k) {
      if (layout.Nodes[k].Column != layout.Nodes[k - 1].Column) continue;
      EXPECT_GE(layout.Nodes[k].Y - layout.Nodes[k - 1].Y, 2 * layout.Nodes[k].Radius);  // no overlap
    }
  }
}

}  // namespace
}  // namespace zemlix
