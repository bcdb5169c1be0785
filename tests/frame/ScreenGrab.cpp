// Saves a picture of the whole X screen named by DISPLAY into the file given
// as the only argument; exits with 1 when it cannot.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen && screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
