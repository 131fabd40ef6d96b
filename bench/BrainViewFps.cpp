// The window's frame rate with the brain view open or closed: the laboratory window with 200
// bugs and 100 pellets at full speed, its real event loop, frames counted for a while.
//   zemlix_brain_fps SECONDS open|closed     (under Xvfb: QT_QPA_PLATFORM=xcb)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "display/HandlerErrors.h"
#include "ui/BrainWindow.h"
#include "ui/LaboratoryWindow.h"
#include "ui/SpinEdit.h"

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[2], "open") != 0 && std::strcmp(argv[2], "closed") != 0)) {
    std::fprintf(stderr, "usage: %s SECONDS open|closed\n", argv[0]);
    return 2;
  }
  const double seconds = std::atof(argv[1]);
  const bool open = std::strcmp(argv[2], "open") == 0;
  QApplication application(argc, argv);
  // A failure is printed, never shown in a box that would wait for a click.
  zemlix::SetErrorReporter([](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
  zemlix::TLaboratoryWindow lab(zemlix::TNetworkLog(qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString()));
  lab.RunsFolder = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/runs";
  lab.show();
  lab.Client->NumberOfBugsBox->SetValue(200);
  lab.Client->NumberOfFoodBox->SetValue(100);
  lab.Client->WorldSpeedBox->SetValue(0);
  lab.SetFixedSeed(1);
  lab.StartAction->trigger();
  if (open) lab.BrainAction->trigger();
  long frames = 0;
  const auto shown = lab.Client->OnViewsDrawn;
  lab.Client->OnViewsDrawn = [&] {
    shown();
    ++frames;
  };
  // A second to settle, then the count.
  // The processor time per frame too: on a shared machine the frame rate follows the load,
  // the time the program itself spends per frame much less.
  const auto processorSeconds = [] {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
  };
  QElapsedTimer clock;
  long start = 0;
  double processorStart = 0;
  QTimer::singleShot(1000, Qt::PreciseTimer, [&] {
    start = frames;
    processorStart = processorSeconds();
    clock.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, [&] {
      const double counted = static_cast<double>(frames - start);
      std::printf("%s %.1f %.1f\n", open ? "open" : "closed", counted / (clock.nsecsElapsed() / 1e9),
                  (processorSeconds() - processorStart) * 1e6 / counted);
      std::fflush(stdout);
      lab.Client->OnViewsDrawn = shown;
      application.quit();
    });
  });
  return application.exec();
}
