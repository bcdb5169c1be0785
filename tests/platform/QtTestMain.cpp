// GoogleTest entry point for tests that need a QApplication (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

// Each test must leave the application as it found it, so that the tests
// also pass in one process: a loop can still be run (no quit is left
// pending), and no modal dialog or popup is left open.
class ApplicationStateCheck : public ::testing::EmptyTestEventListener {
 public:
  bool Failed() const { return m_failed; }

 private:
  void OnTestEnd(const ::testing::TestInfo& test) override {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&loop] { loop.exit(7); });
    const bool loopRuns = loop.exec() == 7;
    const bool nothingOpen =
        !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
    if (loopRuns && nothingOpen) return;
    m_failed = true;
    std::fprintf(stderr, "%s.%s left the application changed:%s%s\n", test.test_suite_name(),
                 test.name(), loopRuns ? "" : " an event loop can no longer run;",
                 nothingOpen ? "" : " a dialog or popup is still open;");
  }

  bool m_failed = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  // Qt's file dialog keeps its column widths and folders in the user's
  // settings and restores them: each run starts from none, as on a fresh
  // machine, and leaves the user's own alone.
  QTemporaryDir settings;
  if (settings.isValid()) qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
  QApplication app(argc, argv);
  auto* check = new ApplicationStateCheck;
  ::testing::UnitTest::GetInstance()->listeners().Append(check);  // owned by GoogleTest
  const int result = RUN_ALL_TESTS();
  return check->Failed() ? 1 : result;
}
