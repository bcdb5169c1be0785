// The real program on a virtual X server: the server, the program's path and
// screenshots, shared by the real-window tests.
#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <optional>

// A virtual X server on the first free display number.
class VirtualDisplay {
 public:
  bool Start();
  void Stop();
  ~VirtualDisplay() { Stop(); }

  // The system's environment with DISPLAY naming this server.
  QProcessEnvironment Environment() const;

 private:
  QProcess m_server;
  QString m_display;
};

// The program under test: the one built beside the tests, or the one named by
// MAGNOVA_TEST_EXECUTABLE (an older build, to show that a test catches its fault).
QString ProgramPath();

// A screenshot of the whole display, saved into file.
std::optional<QImage> Grab(const QProcessEnvironment& env, const QString& file);
