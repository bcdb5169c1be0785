#include "VirtualDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

bool VirtualDisplay::Start() {
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

void VirtualDisplay::Stop() {
  if (m_server.state() == QProcess::NotRunning) return;
  m_server.terminate();
  if (!m_server.waitForFinished(5000)) m_server.kill();
  m_server.waitForFinished(5000);
}

QProcessEnvironment VirtualDisplay::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", m_display);
  env.insert("QT_QPA_PLATFORM", "xcb");
  return env;
}

QString ProgramPath() {
  const QString chosen = qEnvironmentVariable("MAGNOVA_TEST_EXECUTABLE");
  return chosen.isEmpty() ? QStringLiteral(MAGNOVA_EXECUTABLE) : chosen;
}

std::optional<QImage> Grab(const QProcessEnvironment& env, const QString& file) {
  QProcess grab;
  grab.setProcessEnvironment(env);
  grab.start(MAGNOVA_SCREEN_GRAB, {file});
  if (!grab.waitForFinished(10000) || grab.exitCode() != 0) return std::nullopt;
  QImage image(file);
  if (image.isNull()) return std::nullopt;
  return image;
}
