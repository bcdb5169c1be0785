// Saves a screenshot of the whole X screen once something is drawn on it and
// the picture has settled: grab_screen <out.png> [timeout in ms].
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

namespace {
bool Uniform(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4)
      if (image.pixel(x, y) != first) return false;
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab_screen out.png [timeout ms]\n");
    return 2;
  }
  const int timeoutMs = argc > 2 ? std::atoi(argv[2]) : 15000;
  QElapsedTimer clock;
  clock.start();
  QImage previous;
  while (clock.elapsed() < timeoutMs) {
    app.processEvents();
    QImage shot = app.primaryScreen()->grabWindow(0).toImage();
    if (!shot.isNull() && !Uniform(shot) && shot == previous) {
      return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    }
    previous = shot;
    QThread::msleep(500);
  }
  std::fprintf(stderr, "grab_screen: the screen did not settle in %d ms\n", timeoutMs);
  return 1;
}
