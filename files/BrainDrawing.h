#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ai/NeuralNet.h"
#include "world/World.h"

namespace zemlix {

// A bug's network drawn as a layered graph: a column of inputs, one per layer, edges from
// every node of a column to every node of the next. The layout is worked out once here, in
// picture units with y downwards, and both the SVG file and the window's brain view draw
// exactly these positions, colours and widths.

struct TRgb {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TRgb&) const = default;
  std::string Hex() const;  // "#rrggbb"
};

struct TBrainNode {
  double X = 0, Y = 0, Radius = 0;
  int32_t Column = 0;  // 0: the inputs, k + 1: layer k
  int32_t Row = 0;
  std::string Name;             // what the node is, as its hover text begins
  std::optional<double> Value;  // its activation in the tick drawn, when known
  TRgb Fill;
  bool operator==(const TBrainNode&) const = default;
};

struct TBrainEdge {
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  double Width = 1;
  double Opacity = 1;
  TRgb Colour;
  bool operator==(const TBrainEdge&) const = default;
};

struct TBrainText {
  enum class TAnchor { Start, Middle, End };
  double X = 0, Y = 0;  // Y is the baseline
  std::string Text;
  TAnchor Anchor = TAnchor::Start;
  double Size = 13;  // pixels
  bool Bold = false;
  TRgb Colour;
  bool operator==(const TBrainText&) const = default;
};

struct TBrainLayout {
  double Width = 0, Height = 0;
  std::string Title;
  // Drawn in this order: edges under nodes, then the texts; the key last.
  std::vector<TBrainEdge> Edges;
  std::vector<TBrainNode> Nodes;
  std::vector<TBrainText> Texts;
  std::vector<TBrainEdge> KeyLines;
  std::vector<TBrainNode> KeySwatches;
};

// The inputs' names in the order the tick feeds them.
inline constexpr const char* BrainInputNames[] = {"pellet direction x", "pellet direction y", "look direction x",
                                                  "look direction y"};
inline constexpr const char* BrainOutputNames[] = {"left impulse", "right impulse"};

// `activations` is empty (drawn without them) or holds the network's inputs and then every
// layer's outputs, as TWorld::KeptActivations does; a list of any other length is taken as
// empty. `title` heads the picture.
TBrainLayout LayOutBrain(const TNeuralNet& net, std::span<const double> activations, const std::string& title);

// The title both front ends give bug `bug` of generation `generation`.
std::string BrainTitle(int32_t bug, int32_t generation);

// Bug `bug` (an active one) of the world, with the activations its last tick kept for that
// bug, if any: what the runner's --brain and the window's export both draw.
TBrainLayout LayOutBugBrain(const TWorld& world, int32_t bug);

// The fill of a node whose activation is `value` (inputs lie in [-1, 1], neurons in [0, 1]).
TRgb ActivationFill(double value);

// The network node under the point (x, y) in picture units, or null.
const TBrainNode* BrainNodeAt(const TBrainLayout& layout, double x, double y);

// A node's value as hover texts show it, with a decimal point.
std::string BrainValueText(double value);

// The layout as a self-contained SVG picture.
std::string FormatBrainSvg(const TBrainLayout& layout);

}  // namespace zemlix
