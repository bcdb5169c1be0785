// The real program on a virtual X display, driven through the keyboard as a
// user drives it: a resize sent to the background ("Work in background"),
// then a second one started from the percent box with Enter held down. The
// second job's progress dialog must come up viewable and in front, its owner
// not minimised, so that Pause and Abort are in reach.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "VirtualDisplay.h"
#include "XTools.h"
#include "../files/TestImages.h"

namespace {

constexpr char kProgressTitle[] = "Resizing progress";
constexpr char kAppName[] = "Magnova";
// Large enough that a 200 % resize takes seconds, in an optimised build as in
// a sanitized one, and leaves the 300 % one running long after its dialog
// is up.
constexpr int kPictureWidth = 4800;
constexpr int kPictureHeight = 3600;

// A coordinate-coloured picture: red x, green y (each modulo 256), blue 128.
bool WritePicture(const QString& path) {
  QImage picture(kPictureWidth, kPictureHeight, QImage::Format_RGB888);
  for (int y = 0; y < picture.height(); ++y) {
    uchar* row = picture.scanLine(y);
    for (int x = 0; x < picture.width(); ++x) {
      row[3 * x] = static_cast<uchar>(x);
      row[3 * x + 1] = static_cast<uchar>(y);
      row[3 * x + 2] = 128;
    }
  }
  return picture.save(path, "BMP");
}

// The picture's own colours (blue 128, red and green apart) on most of the
// left pane: the program has loaded it.
bool PictureShown(const QImage& screen) {
  int count = 0;
  for (int y = 100; y < screen.height() - 100; y += 2)
    for (int x = 0; x < screen.width() / 2; x += 2) {
      const QColor c = screen.pixelColor(x, y);
      count += c.blue() == 128 && c.red() != c.green();
    }
  return count > 20000;
}

struct Case {
  const char* name;
  bool windowManager;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class BackgroundJobWindowTest : public testing::TestWithParam<Case> {};

TEST_P(BackgroundJobWindowTest, NextJobOpensItsProgressDialogInFront) {
  for (const char* tool : {"xdotool", "xprop", "xwininfo", "openbox"})
    ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
        << tool << " is missing: scripts/install-deps.sh scripts/deps-test.txt";
  VirtualDisplay display;
  if (!display.Start()) GTEST_SKIP() << "no virtual X server (Xvfb) could be started";
  const XQuery x(display.Environment());

  QProcess windowManager;
  if (GetParam().windowManager) {
    ASSERT_TRUE(StartWindowManager(windowManager, display.Environment(), x))
        << "openbox did not come up";
  }

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString picture = folder.filePath("coordinates.bmp");
  ASSERT_TRUE(WritePicture(picture));

  QProcess program;
  QProcessEnvironment env = display.Environment();
  env.insert("XDG_CONFIG_HOME", folder.path());
  program.setProcessEnvironment(env);
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(ProgramPath(), {});
  ASSERT_TRUE(program.waitForStarted(5000));
  const auto running = [&] { return program.state() == QProcess::Running; };
  const auto ended = [&] { return !running(); };

  // A click into the main window's right pane gives it the focus, with or
  // without a window manager; a closing dialog gives it back only where a
  // window manager runs, so the user clicks again.
  std::string frame;
  ASSERT_TRUE(WaitUntil(
      [&] {
        frame = x.Run("xdotool search --onlyvisible --name '^Magnova$'");
        return !frame.empty() && frame.find('\n') == std::string::npos;
      },
      30000, ended))
      << "no main window";
  const auto focusFrame = [&] {
    return WaitUntil(
        [&] {
          x.Run("xdotool mousemove --window " + frame + " 600 300 click 1");
          return WaitUntil([&] { return x.FocusId() == frame; }, 2000, ended);
        },
        30000, ended);
  };
  ASSERT_TRUE(focusFrame()) << "the main window never took the focus; focus on \"" << x.FocusName()
                            << "\"";

  // The picture, opened through Ctrl+O and the Open dialog.
  x.Keys("ctrl+o");
  ASSERT_TRUE(WaitUntil([&] { return x.FocusName() == "Open"; }, 30000, ended)) << "no Open dialog";
  x.Run("xdotool type --delay 20 '" + picture.toStdString() + "'");
  x.Keys("Return");
  const QString shotFile = QDir::current().filePath(
      QStringLiteral("magnova-background-job-%1.png").arg(GetParam().name));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::optional<QImage> shot = Grab(display.Environment(), shotFile);
        return shot && PictureShown(*shot);
      },
      60000, ended))
      << "the picture was not shown";
  ASSERT_TRUE(focusFrame()) << "focus on " << x.FocusId() << " \"" << x.FocusName() << "\"";

  // The first job, 200 % (the percent the box offers after a load), sent to
  // the background. The window manager minimises the main window and the
  // dialog with it, and brings both back when the job is done.
  x.Keys("ctrl+r");
  ASSERT_TRUE(WaitUntil([&] { return x.FocusName() == kProgressTitle; }, 30000, ended))
      << "no progress dialog for the first job";
  const std::string dialog = x.FocusId();
  ASSERT_FALSE(dialog.empty());
  x.Keys("space");  // on "Work in background", which has the focus
  if (GetParam().windowManager) {
    ASSERT_TRUE(WaitUntil([&] { return x.Iconic(frame); }, 30000, ended))
        << "\"Work in background\" did not minimise the main window";
  }
  ASSERT_TRUE(WaitUntil(
      [&] { return !x.Viewable(dialog) && x.Viewable(frame) && !x.Iconic(frame); }, 120000, ended))
      << "the main window did not come back when the first job ended";
  ASSERT_TRUE(focusFrame()) << "focus on " << x.FocusId() << " \"" << x.FocusName() << "\"";

  // The second job, 300 % typed into the percent box (two Tabs from the
  // result's pane, the active one), Enter held until its dialog has the focus and the
  // server's key repeat has had time to reach the dialog.
  x.Keys("Tab Tab 3 0 0");
  x.Run("xdotool keydown Return");
  const auto inFront = [&] {
    return x.FocusName() == kProgressTitle && x.Viewable(dialog) && !x.Iconic(frame) &&
           x.Above(dialog, frame);
  };
  const auto state = [&] {
    return "focus on \"" + x.FocusName() + "\", dialog " +
           (x.Viewable(dialog) ? "viewable" : "not viewable") + ", main window " +
           (x.Iconic(frame) ? "iconic" : "not iconic");
  };
  const auto minimised = [&] { return ended() || x.Iconic(frame); };
  const bool shown = WaitUntil(inFront, 30000, minimised);
  Grab(display.Environment(), shotFile);
  if (shown) QThread::msleep(1500);
  x.Run("xdotool keyup Return");
  ASSERT_TRUE(shown) << "the second job's dialog did not come up in front: " << state();

  // Pause, a button away from the focused "Work in background"; the title
  // reports it once every event before it, the repeats included, is handled.
  x.Keys("Tab space");
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string title = x.Name(frame);
        return title.size() > 9 && title.substr(title.size() - 9) == " - paused";
      },
      30000, [&] { return minimised() || !x.Viewable(dialog); }))
      << "Pause was not reached: " << state() << ", title \"" << x.Name(frame) << "\"";
  EXPECT_EQ(x.FocusName(), kProgressTitle);
  EXPECT_TRUE(x.Viewable(dialog));
  EXPECT_TRUE(x.Above(dialog, frame));
  EXPECT_FALSE(x.Iconic(frame));
  EXPECT_TRUE(x.Viewable(frame));

  // Abort, the next button on; then the program ends through File, Exit.
  x.Keys("Tab space");
  ASSERT_TRUE(
      WaitUntil([&] { return !x.Viewable(dialog) && x.Name(frame) == kAppName; }, 30000, ended))
      << "Abort did not end the second job";
  ASSERT_TRUE(focusFrame()) << "focus on " << x.FocusId() << " \"" << x.FocusName() << "\"";
  x.Keys("alt+f x");
  ASSERT_TRUE(program.waitForFinished(30000)) << "File, Exit did not end the program";
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);

  if (windowManager.state() != QProcess::NotRunning) {
    windowManager.terminate();
    windowManager.waitForFinished(5000);
  }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutWindowManager, BackgroundJobWindowTest,
                         testing::Values(Case{"openbox", true}, Case{"none", false}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
