#pragma once

#include <QMainWindow>
#include <memory>

#include "hh/ViewerPlacement.h"

class CChmArchive;
class CChmBrowser;
class QTreeWidget;
class QTreeWidgetItem;

// The help viewer's window: the help file's table of contents beside the page,
// with Back, Forward and Home. UI thread only.
class CHelpViewer : public QMainWindow {
 public:
  // Shows topic (an object path), or the start page when topic is empty.
  CHelpViewer(std::unique_ptr<CChmArchive> archive, const QString& topic);
  ~CHelpViewer() override;

  // Moves the window, not yet shown, beside the window that asked for help
  // where the screen has room; else it stays in the middle of the screen.
  void MoveBeside(const KeepVisible& asking);

  CChmBrowser* Browser() const { return m_browser; }
  QTreeWidget* Contents() const { return m_contents; }

 private:
  void BuildContents();
  void OnSourceChanged(const QUrl& url);
  void OnContentsItem(QTreeWidgetItem* item);
  void OnHome();

  std::unique_ptr<CChmArchive> m_archive;
  CChmBrowser* m_browser;
  QTreeWidget* m_contents;
};
