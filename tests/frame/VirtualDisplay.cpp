#include "VirtualDisplay.h"

#include <QElapsedTimer>
#include <QStandardPaths>

bool VirtualDisplay::Start() {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) return false;
  // The server picks a free display number itself and writes it to its
  // output once it accepts connections: tests that run side by side cannot
  // pick the same one. Without -noreset the server resets whenever its last
  // client leaves: a screenshot taken before the program has connected would
  // leave it so, and the program could connect to a server in its reset.
  m_server.start(
      xvfb, {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
  QElapsedTimer timer;
  timer.start();
  QByteArray said;
  while (m_server.state() != QProcess::NotRunning && !said.contains('\n') &&
         timer.elapsed() < 10000) {
    m_server.waitForReadyRead(50);
    said += m_server.readAllStandardOutput();
  }
  bool ok = false;
  const int number = said.trimmed().toInt(&ok);
  if (m_server.state() == QProcess::Running && said.contains('\n') && ok) {
    m_display = QStringLiteral(":%1").arg(number);
    return true;
  }
  Stop();
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
