// A picture dropped on the window opens as one chosen with Open.
#include <sys/stat.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMetaObject>
#include <QMimeData>
#include <QUrl>

#include "app/CMainFrame.h"
#include "platform/PathBytes.h"

namespace {

// The file a drop brings, when it is one picture or starts with one: a local
// regular file whose contents FreeImage recognises. Empty otherwise.
std::string DroppedPicture(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().isEmpty()) return {};
  const QUrl first = data->urls().first();
  if (!first.isLocalFile()) return {};
  const std::string path = platform::PathBytes(first.toLocalFile());
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return FreeImage_GetFileType(path.c_str(), 0) != FIF_UNKNOWN ? path : std::string();
}

}  // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* e) {
  // Nothing is taken while a load, resize or save runs.
  if (!m_worker && !DroppedPicture(e->mimeData()).empty())
    e->acceptProposedAction();
  else
    e->ignore();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* e) {
  // The data was judged as the drag entered; only a job that began since
  // changes the answer.
  if (!m_worker)
    e->acceptProposedAction();
  else
    e->ignore();
}

void CMainFrame::dropEvent(QDropEvent* e) {
  const std::string path = m_worker ? std::string() : DroppedPicture(e->mimeData());
  if (path.empty()) {
    e->ignore();
    return;
  }
  e->acceptProposedAction();
  // The drop ends first: the questions and the wait dialog come after it.
  QMetaObject::invokeMethod(
      this, [this, path] { OnFileDropped(path); }, Qt::QueuedConnection);
}

void CMainFrame::OnFileDropped(const std::string& path) {
  if (m_destroyed || m_worker) return;
  if (!SettleUnsavedResult()) return;
  OpenFile(path);
}
