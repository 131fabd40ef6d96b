#pragma once

#include <cstdint>
#include <optional>

namespace zemlix {

// Colours are 0x00BBGGRR (red in the low byte). A top byte of 0x80 names a system
// colour, resolved from the application palette each time it is used.
using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clWhite = 0xFFFFFF;
// "No colour": a brush of this colour paints nothing, and so does a pen or font.
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clWindowText = 0x80000008;

// The colour as a surface pixel, 0xFFRRGGBB (the word layout of QImage::Format_RGB32),
// with system colours resolved. Empty for clNone.
std::optional<std::uint32_t> ColorToPixel(TColor color);

// Same, but clNone gives black: for callers that always need a colour.
std::uint32_t ColorToRgb(TColor color);

}  // namespace zemlix
