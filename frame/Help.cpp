// The Help menu's handlers: the help viewer and the about box.
#include <QApplication>
#include <QFile>

#include "app/CMainFrame.h"
#include "frame/CAboutDlg.h"
#include "frame/CHelpLauncher.h"
#include "frame/HelpCommand.h"

void CMainFrame::OnHelp(int id) {
  // The viewer is looked for beside the executable first, as the help file is.
  const QString folder = QFile::decodeName(help::FolderOf(help::ExecutablePath()).c_str());
  CHelpLauncher(m_helpPath, folder).Open(this, id);
}

void CMainFrame::OnAbout() {
  QWidget* owner = QApplication::activeWindow();
  CAboutDlg dlg(owner ? owner : this);
  dlg.exec();
}
