// The Help menu's handlers: the help viewer and the about box.
#include <QApplication>

#include "app/CMainFrame.h"
#include "frame/CAboutDlg.h"
#include "frame/CHelpLauncher.h"
#include "platform/ExecutableFolder.h"
#include "platform/PathBytes.h"

void CMainFrame::OnHelp(int id, QWidget* asking) {
  // The viewer is looked for beside the executable first, as the help file is.
  // F1 in a dialog asks from the dialog, which the viewer then leaves visible.
  CHelpLauncher(m_helpPath, platform::PathText(platform::ExecutableFolder()))
      .Open(this, id, asking ? asking : this);
}

void CMainFrame::OnAbout() {
  QWidget* owner = QApplication::activeWindow();
  CAboutDlg dlg(owner ? owner : this);
  dlg.exec();
}
