// Starts the real program on a virtual X display and checks from a screenshot
// that its window is painted: menu row, toolbar and both pane captions.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include "VirtualDisplay.h"

namespace {

struct Region {
  int left, top, right, bottom;  // inclusive
};

int CountPixels(const QImage& image, Region r, bool (*test)(const QColor&)) {
  int count = 0;
  for (int y = std::max(0, r.top); y <= std::min(image.height() - 1, r.bottom); ++y)
    for (int x = std::max(0, r.left); x <= std::min(image.width() - 1, r.right); ++x)
      count += test(image.pixelColor(x, y));
  return count;
}

bool Light(const QColor& c) { return c.lightness() > 180; }
bool Dark(const QColor& c) { return c.lightness() < 90 && c.lightness() > 0; }
bool Painted(const QColor& c) { return c != QColor(Qt::black); }
bool Yellow(const QColor& c) { return c.red() > 200 && c.green() > 150 && c.blue() < 140; }
bool Blue(const QColor& c) { return c.blue() > 150 && c.red() < 100; }

}  // namespace

TEST(RealWindowTest, TheWindowIsPaintedOnAnXDisplay) {
  VirtualDisplay display;
  if (!display.Start()) GTEST_SKIP() << "no virtual X server (Xvfb) could be started";

  QProcess program;
  program.setProcessEnvironment(display.Environment());
  // Neither a file name nor a switch acts, the toolkit's own included: with
  // -reverse acting, the Open button checked below would be at the right.
  program.start(ProgramPath(), {"no-such-picture.png", "--some-switch", "-reverse"});
  ASSERT_TRUE(program.waitForStarted(5000));

  const QString file = QDir::current().filePath("magnova-window.png");
  std::optional<QImage> shot;
  QElapsedTimer timer;
  timer.start();
  // Wait until both captions are on the screen, for at most thirty seconds
  // (a sanitized build on a busy machine may take long to start).
  while (timer.elapsed() < 30000 && program.state() == QProcess::Running) {
    shot = Grab(display.Environment(), file);
    if (shot && CountPixels(*shot, {0, 40, 1023, 100}, Dark) > 100 &&
        CountPixels(*shot, {0, 0, 300, 18}, Dark) > 20)
      break;
    QThread::msleep(300);
  }
  ASSERT_EQ(program.state(), QProcess::Running) << "the program ended on its own";
  ASSERT_TRUE(shot.has_value());
  const QImage& image = *shot;

  // The window's extent: the X root stays black around it.
  int right = image.width() - 1;
  while (right > 0 && !Painted(image.pixelColor(right, 100))) --right;
  int bottom = image.height() - 1;
  while (bottom > 0 && !Painted(image.pixelColor(10, bottom))) --bottom;
  ASSERT_GT(right, 400);
  ASSERT_GT(bottom, 300);
  EXPECT_GT(CountPixels(image, {0, 0, right, bottom}, Painted), right * bottom * 95 / 100)
      << "parts of the window are black";

  // Menu row: light bar with dark menu titles.
  EXPECT_GT(CountPixels(image, {0, 0, 150, 18}, Light), 1000);
  EXPECT_GT(CountPixels(image, {0, 0, 150, 18}, Dark), 20);
  // Toolbar row: the folder of Open and the blue help button.
  EXPECT_GT(CountPixels(image, {0, 19, 60, 50}, Yellow), 10);
  EXPECT_GT(CountPixels(image, {right / 3, 19, right, 50}, Blue), 10);
  // Both captions: bold dark text at the left of each half, on a gradient.
  const int half = right / 2;
  EXPECT_GT(CountPixels(image, {0, 45, 160, 80}, Dark), 80);
  EXPECT_GT(CountPixels(image, {half, 45, half + 160, 80}, Dark), 80);

  program.terminate();
  if (!program.waitForFinished(5000)) program.kill();
  program.waitForFinished(5000);
}
