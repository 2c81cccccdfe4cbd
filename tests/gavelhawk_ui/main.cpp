// The window tests need one application object for the whole run, and data
// and state folders of their own: the program keeps its snipe list (locked
// while it runs) and its log there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test's environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
  qputenv("XDG_STATE_HOME", (home.path() + "/state").toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("gavelhawk"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
