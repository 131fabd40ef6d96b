#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "display/HandlerErrors.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

namespace zemlix::testing {

// Asks a widget for its tooltip as hovering does, and returns the text it then has.
inline QString ShownToolTip(QWidget* widget) {
  QHelpEvent event(QEvent::ToolTip, QPoint(1, 1), widget->mapToGlobal(QPoint(1, 1)));
  QApplication::sendEvent(widget, &event);
  return widget->toolTip();
}

// A shown main window whose NN.log lives in a fresh directory and whose error boxes are
// collected instead of shown.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("zemlix-ui-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
    SetFatalErrorHandler([](const std::string& message) { throw std::logic_error("fatal: " + message); });
    window = std::make_unique<TMain>(TNetworkLog(directory));
    window->show();
    QCoreApplication::processEvents();
  }

  void TearDown() override {
    window.reset();
    SetErrorReporter({});
    SetFatalErrorHandler({});
    std::filesystem::remove_all(directory);
  }

  // Start with a known seed, and the timer stopped so that tests run frames themselves.
  void Start(uint32_t seed = 1) {
    QTest::mouseClick(window->StartBtn, Qt::LeftButton);
    window->World.Random.Seed = seed;
    window->World.BuildPopulation();
    window->Timer.SetEnabled(false);
  }

  // Raw surface pixel as 0x00RRGGBB.
  static uint32_t Pixel(TSurfaceView* view, int x, int y) { return view->Surface().Pixel(x, y) & 0xFFFFFF; }
  // A TColor (0x00BBGGRR) as the surface's raw pixel.
  static uint32_t Raw(TColor color) {
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
  }

  std::string LogText() const;

  std::filesystem::path directory;
  std::vector<std::string> errors;
  std::unique_ptr<TMain> window;
};

}  // namespace zemlix::testing
