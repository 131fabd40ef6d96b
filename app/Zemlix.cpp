// The program's entry: the application, its title, the main window, the event loop.
#include <QApplication>
#include <clocale>

#include "ui/MainUnit.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");  // Qt sets the user's locale; the log's dates keep it
  QApplication::setApplicationName("Zemlix");
  QApplication::setApplicationDisplayName("Zemlix");
  zemlix::TMain window;
  window.show();
  return QApplication::exec();
}
