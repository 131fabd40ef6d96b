#pragma once

#include <string_view>

#include <QImage>

namespace zemlix {

// The window's pictures, compiled in from resources/*.xpm (which are C source and
// ordinary image files at once).

// "Creature", "Food" or "Poision": 9 x 9, white meant as transparent. Null otherwise.
QImage StandardSpritePicture(std::string_view name);
// 32 x 32 black-and-white beetle on a transparent ground.
QImage WindowIconPicture();
// 20 x 15: two grey (0x808080) bars on black.
QImage PauseGlyphPicture();
// The same with the black ground made transparent, as the button shows it.
QImage PauseGlyphTransparentPicture();

}  // namespace zemlix
