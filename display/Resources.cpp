#include "display/Resources.h"

#include <QColor>

namespace zemlix {

namespace {
#include "resources/creature.xpm"
#include "resources/food.xpm"
#include "resources/icon.xpm"
#include "resources/pause.xpm"
#include "resources/poision.xpm"
}  // namespace

QImage StandardSpritePicture(std::string_view name) {
  if (name == "Creature") return QImage(creature_xpm);
  if (name == "Food") return QImage(food_xpm);
  if (name == "Poision") return QImage(poision_xpm);
  return QImage();
}

QImage WindowIconPicture() { return QImage(icon_xpm); }

QImage PauseGlyphPicture() { return QImage(pause_xpm); }

QImage PauseGlyphTransparentPicture() {
  QImage glyph = PauseGlyphPicture().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < glyph.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(glyph.scanLine(y));
    for (int x = 0; x < glyph.width(); ++x) {
      if ((line[x] & 0x00FFFFFFu) == 0) line[x] = 0;
    }
  }
  return glyph;
}

}  // namespace zemlix
