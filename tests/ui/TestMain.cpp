#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

// The window tests need an application object; offscreen unless the caller chose a
// platform (the build lists the tests with no display). The user's data and settings
// folders point into a scratch folder of this process, so no test touches the real ones.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  std::string scratch = (std::filesystem::temp_directory_path() / "zemlix-ui-home-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) return 1;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(scratch + "/data"));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(scratch + "/config"));
  int status = 0;
  {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName("Zemlix");
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return status;
}
