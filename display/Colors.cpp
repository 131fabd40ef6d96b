#include "display/Colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace zemlix {

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;

// System colour numbers follow the classic desktop palette indices; each maps to the
// palette role that plays the same part in a Qt style.
std::uint32_t SystemColor(std::uint32_t index) {
  struct Fallback {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    std::uint32_t rgb;  // used when there is no application to ask
  };
  Fallback entry{QPalette::Active, QPalette::WindowText, 0x000000};
  switch (index) {
    case 1: entry = {QPalette::Active, QPalette::Dark, 0x000000}; break;          // desktop
    case 2: entry = {QPalette::Active, QPalette::Highlight, 0x0078D7}; break;     // active caption
    case 3: entry = {QPalette::Inactive, QPalette::Highlight, 0xBFCDDB}; break;   // inactive caption
    case 0:                                                                        // scroll bar
    case 15: entry = {QPalette::Active, QPalette::Button, 0xF0F0F0}; break;       // button face
    case 4: entry = {QPalette::Active, QPalette::Window, 0xF0F0F0}; break;        // menu
    case 5: entry = {QPalette::Active, QPalette::Base, 0xFFFFFF}; break;          // window
    case 6:                                                                        // window frame
    case 7:                                                                        // menu text
    case 8: entry = {QPalette::Active, QPalette::WindowText, 0x000000}; break;    // window text
    case 9:                                                                        // caption text
    case 14: entry = {QPalette::Active, QPalette::HighlightedText, 0xFFFFFF}; break;
    case 13: entry = {QPalette::Active, QPalette::Highlight, 0x0078D7}; break;
    case 16: entry = {QPalette::Active, QPalette::Dark, 0xA0A0A0}; break;         // button shadow
    case 17: entry = {QPalette::Disabled, QPalette::Text, 0x6D6D6D}; break;       // grey text
    case 18: entry = {QPalette::Active, QPalette::ButtonText, 0x000000}; break;
    case 20: entry = {QPalette::Active, QPalette::Light, 0xFFFFFF}; break;        // button highlight
    case 21: entry = {QPalette::Active, QPalette::Shadow, 0x696969}; break;       // 3D dark shadow
    case 22: entry = {QPalette::Active, QPalette::Midlight, 0xE3E3E3}; break;     // 3D light
    case 23: entry = {QPalette::Active, QPalette::ToolTipText, 0x000000}; break;
    case 24: entry = {QPalette::Active, QPalette::ToolTipBase, 0xFFFFE1}; break;
    default: break;
  }
  if (qGuiApp == nullptr) return kOpaque | entry.rgb;
  return kOpaque | QGuiApplication::palette().color(entry.group, entry.role).rgb();
}

}  // namespace

std::optional<std::uint32_t> ColorToPixel(TColor color) {
  if (color == clNone) return std::nullopt;
  if ((color & 0xFF000000u) == 0x80000000u) return SystemColor(color & 0xFFu);
  const std::uint32_t red = color & 0xFFu;
  const std::uint32_t green = (color >> 8) & 0xFFu;
  const std::uint32_t blue = (color >> 16) & 0xFFu;
  return kOpaque | (red << 16) | (green << 8) | blue;
}

std::uint32_t ColorToRgb(TColor color) { return ColorToPixel(color).value_or(kOpaque); }

}  // namespace zemlix
