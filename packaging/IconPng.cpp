// Build tool: writes the window's icon as a PNG of the given size for the desktop's icon
// theme. Nearest-neighbour scaling keeps the 32 x 32 pixel art sharp at every size.
#include <QBuffer>
#include <QImage>
#include <charconv>
#include <exception>
#include <iostream>
#include <string_view>

#include "display/Resources.h"
#include "files/OutputFile.h"

int main(int argc, char** argv) {
  int size = 0;
  const std::string_view sizeText = argc == 3 ? argv[1] : "";
  const auto [stop, error] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
  if (argc != 3 || error != std::errc() || stop != sizeText.data() + sizeText.size() || size < 1 || size > 4096) {
    std::cerr << "usage: zemlix-icon-png SIZE OUTPUT.png (SIZE from 1 to 4096 pixels)\n";
    return 2;
  }
  const std::string path = argv[2];
  const QImage icon = zemlix::WindowIconPicture().convertToFormat(QImage::Format_ARGB32).scaled(
      size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (icon.isNull() || !icon.save(&buffer, "PNG")) {
    std::cerr << "zemlix-icon-png: cannot write " << path << ": the PNG encoder failed\n";
    return 1;
  }
  try {
    zemlix::TOutputFile file(path, std::cout);
    file.Stream().write(png.constData(), png.size());
    file.Commit();
  } catch (const std::exception& failure) {
    std::cerr << "zemlix-icon-png: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
