// The running-frame tests need one application object for the process.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Listing the tests at build time runs this too, without the test's environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
