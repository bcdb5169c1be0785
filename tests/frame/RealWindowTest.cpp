// Starts the real program on a virtual X display and checks from a screenshot
// that its window is painted: menu row, toolbar and both pane captions.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <optional>

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

// A virtual X server on the first free display number.
class VirtualDisplay {
 public:
  bool Start() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty()) return false;
    for (int number = 87; number < 187; ++number) {
      const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
      if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        continue;
      // Without -noreset the server resets whenever its last client leaves: a
      // screenshot taken before the program has connected would leave it so,
      // and the program could connect to a server in the middle of its reset.
      m_server.start(xvfb, {QStringLiteral(":%1").arg(number), "-noreset", "-screen", "0",
                            "1024x768x24", "-nolisten", "tcp"});
      QElapsedTimer timer;
      timer.start();
      while (m_server.state() != QProcess::NotRunning && !QFile::exists(socket) &&
             timer.elapsed() < 5000)
        m_server.waitForFinished(50);
      if (m_server.state() == QProcess::Running && QFile::exists(socket)) {
        m_display = QStringLiteral(":%1").arg(number);
        return true;
      }
      Stop();
    }
    return false;
  }
  void Stop() {
    if (m_server.state() == QProcess::NotRunning) return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) m_server.kill();
    m_server.waitForFinished(5000);
  }
  ~VirtualDisplay() { Stop(); }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
  }

 private:
  QProcess m_server;
  QString m_display;
};

std::optional<QImage> Grab(const QProcessEnvironment& env, const QString& file) {
  QProcess grab;
  grab.setProcessEnvironment(env);
  grab.start(MAGNOVA_SCREEN_GRAB, {file});
  if (!grab.waitForFinished(10000) || grab.exitCode() != 0) return std::nullopt;
  QImage image(file);
  if (image.isNull()) return std::nullopt;
  return image;
}

}  // namespace

TEST(RealWindowTest, TheWindowIsPaintedOnAnXDisplay) {
  VirtualDisplay display;
  if (!display.Start()) GTEST_SKIP() << "no virtual X server (Xvfb) could be started";

  QProcess program;
  program.setProcessEnvironment(display.Environment());
  // Neither a file name nor a switch acts, the toolkit's own included: with
  // -reverse acting, the Open button checked below would be at the right.
  program.start(MAGNOVA_EXECUTABLE, {"no-such-picture.png", "--some-switch", "-reverse"});
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
