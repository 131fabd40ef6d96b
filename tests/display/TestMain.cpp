#include <QApplication>
#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

// Widgets and fonts need an application object. Offscreen unless the caller chose a
// platform: the build lists the tests with no display and no environment of its own.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
