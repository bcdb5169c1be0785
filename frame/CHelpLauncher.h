#pragma once

#include <QString>

class QWidget;

// Turns a help request into a running help viewer: checks that the help file
// is there, builds the viewer's command line and starts a new viewer for each
// request without waiting for it. Failures are shown in message boxes.
// UI thread only.
class CHelpLauncher {
 public:
  // viewerFolder is searched for the viewer before PATH: the program's own
  // folder.
  CHelpLauncher(QString helpPath, QString viewerFolder);

  // hh "<help path>" for Contents and F1, hh "<help path>::/<topic>" for a
  // command with a topic.
  QString CommandLine(int id) const;

  // Handles one help request; message boxes are owned by owner. The viewer
  // opens beside asking, the window the request came from, when it is shown.
  void Open(QWidget* owner, int id, const QWidget* asking = nullptr) const;

 private:
  QString m_helpPath;
  QString m_viewerFolder;
};
