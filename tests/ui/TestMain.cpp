#include <gtest/gtest.h>

#include <QApplication>

// The window tests need an application object; offscreen unless the caller chose a
// platform (the build lists the tests with no display).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName("Zemlix");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
