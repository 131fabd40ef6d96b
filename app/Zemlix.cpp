// The program's entry: the command line, the application, its title, the main window,
// the event loop.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "base/Version.h"
#include "files/OutputFile.h"
#include "ui/CommandLine.h"
#include "ui/LaboratoryWindow.h"
#include "ui/UserLocale.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before the GUI application exists, so --help, --version and
  // bad values answer on a terminal with no display at all, and never show a window.
  zemlix::TWindowOptions options;
  {
    QCoreApplication parsing(argc, argv);
    auto parsed = zemlix::ParseWindowOptions(QCoreApplication::arguments(), std::cout, std::cerr);
    if (!parsed.Options) return parsed.ExitStatus;
    options = *parsed.Options;
  }

  // A recording shows no window, so it needs no display: it runs on a server as well.
  if (!options.Record.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  QApplication application(argc, argv);
  zemlix::AdoptUserLocale();
  QApplication::setApplicationName("Zemlix");
  QApplication::setApplicationDisplayName("Zemlix");
  QApplication::setApplicationVersion(zemlix::Version);
  if (!options.Record.empty()) {
    // Ctrl+C or SIGTERM during a recording removes its temporary file.
    zemlix::TTemporaryFiles::RemoveOnTerminationSignals();
    return zemlix::RecordFromCommandLine(options, std::cerr);
  }
  zemlix::TLaboratoryWindow window;

  // A terminal's Ctrl+C or a session's SIGTERM closes the window the ordinary way, so the
  // log still gets its close line.
  std::unique_ptr<QSocketNotifier> terminationNotifier;
  if (::pipe(SignalPipe) == 0) {
    terminationNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(terminationNotifier.get(), &QSocketNotifier::activated, &window, [&window] {
      // The first signal closes the window and any box on screen, and ends every event
      // loop, a box's included; the world is destroyed as main returns, which writes the
      // log's close line. Should anything still hold the process, the next signal ends it.
      std::signal(SIGTERM, SIG_DFL);
      std::signal(SIGINT, SIG_DFL);
      window.close();
      QCoreApplication::exit(0);
    });
    std::signal(SIGTERM, OnTerminationSignal);
    std::signal(SIGINT, OnTerminationSignal);
  }

  window.show();
  window.ApplyOptions(options);
  return QApplication::exec();
}
