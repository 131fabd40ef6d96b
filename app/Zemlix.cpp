// The program's entry: the application, its title, the main window, the event loop.
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <memory>
#include <csignal>
#include <unistd.h>

#include "ui/MainUnit.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::setlocale(LC_NUMERIC, "C");  // Qt takes the user's locale; only the log's dates follow it
  QApplication::setApplicationName("Zemlix");
  QApplication::setApplicationDisplayName("Zemlix");
  zemlix::TMain window;

  // A terminal's Ctrl+C or a session's SIGTERM closes the window the ordinary way, so the
  // log still gets its close line.
  std::unique_ptr<QSocketNotifier> terminationNotifier;
  if (::pipe(SignalPipe) == 0) {
    terminationNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(terminationNotifier.get(), &QSocketNotifier::activated, &window, [&window] { window.close(); });
    std::signal(SIGTERM, OnTerminationSignal);
    std::signal(SIGINT, OnTerminationSignal);
  }

  window.show();
  return QApplication::exec();
}
