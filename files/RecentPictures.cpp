// The File menu's recent pictures: noted as pictures open, offered again,
// dropped when they no longer open, emptied by Clear Recent.
#include <QAction>
#include <QFileInfo>

#include "app/CMainFrame.h"
#include "files/Remembered.h"
#include "platform/PathBytes.h"
#include "res/CommandIds.h"

void CMainFrame::UpdateRecentMenu() {
  const QStringList paths = files::RecentPictures();
  for (int index = 0; index < m_recentActions.size(); ++index) {
    QAction* action = m_recentActions[index];
    action->setVisible(index < paths.size());
    if (index >= paths.size()) continue;
    action->setText(files::RecentMenuText(index, paths[index]));
    action->setStatusTip(paths[index]);
  }
  UIEnable(ids::FileClearRecent, !paths.isEmpty());
}

void CMainFrame::OnFileRecent(int index) {
  const QStringList paths = files::RecentPictures();
  if (index < 0 || index >= paths.size() || !SettleUnsavedResult()) return;
  OpenFile(platform::PathBytes(paths[index]));
}

void CMainFrame::OnClearRecent() {
  files::StoreRecentPictures({});
  UpdateRecentMenu();
}

void CMainFrame::NoteRecentPicture() {
  if (m_sourcePasted) return;
  const QString path = QFileInfo(platform::PathText(m_sourcePath)).absoluteFilePath();
  QStringList paths = files::RecentPictures();
  using files::LoadFailure;
  switch (m_loadFailure) {
    case LoadFailure::None:
      if (!m_source) return;
      paths = files::WithRecent(paths, path);
      break;
    case LoadFailure::Missing:
    case LoadFailure::NoPermission:
    case LoadFailure::NotAPicture:
    case LoadFailure::Damaged:
      // The name no longer opens; lack of memory or an abort may pass.
      if (!paths.removeAll(path)) return;
      break;
    default:
      return;
  }
  files::StoreRecentPictures(paths);
  UpdateRecentMenu();
}
