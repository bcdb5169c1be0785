// Routing keys, mouse and actions to the frame's commands, and the states
// of the bars.
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <cmath>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "views/CEnlargerView.h"

namespace {

bool ClipboardHoldsText() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && data->hasText();
}

}  // namespace

void CMainFrame::RouteAction(int id) {
  OnCommand(id);
  // The toolkit flips a checkable item as it is clicked; the table decides
  // what it shows.
  UISetCheck(id, UIIsChecked(id), true);
  if (id >= ids::ZoomToFirst && id <= ids::ZoomToOther) SetZoomToMark(m_zoomToMark);
}

bool CMainFrame::PreTranslateMessage(QObject* target, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseMove || type == QEvent::MouseButtonPress)
    return SplitterMouse(target, event);
  if (type != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(target);
  if (!widget || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if ((target == m_percentEdit || target == m_percentCombo) && PercentBoxKey(key->key()))
    return true;
  // Accelerators act even for disabled commands: each handler checks its own state.
  if (int id = res::TranslateAccelerator(key->key(), key->modifiers(), key->text())) {
    // In the percent box Ctrl+V pastes text, as it always has; it opens a
    // picture there only when the clipboard holds no text.
    if (id == ids::EditPaste && (target == m_percentEdit || target == m_percentCombo) &&
        ClipboardHoldsText())
      return false;
    OnCommand(id);
    return true;
  }
  return false;
}

bool CMainFrame::PercentBoxKey(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    OnCommand(ids::Resize);
    return true;
  }
  // Shift+Tab arrives as a key of its own; it moves to a pane as Tab does.
  if (key != Qt::Key_Tab && key != Qt::Key_Backtab) return false;
  if (!m_result)
    ActivateView(0);
  else if (m_rightView->Image())
    ActivateView(1);
  // Once a pane has taken the focus the key has done its work; passed on, it
  // would move the focus on out of that pane.
  QWidget* focus = QApplication::focusWidget();
  return focus != m_percentEdit && focus != m_percentCombo;
}

bool CMainFrame::SplitterMouse(QObject* target, QEvent* event) {
  QSplitterHandle* handle = m_splitter ? m_splitter->handle(1) : nullptr;
  if (!handle || (target != handle && target != m_splitter)) return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  if (event->type() == QEvent::MouseButtonPress && mouse->button() != Qt::LeftButton) return false;
  if (!m_syncScroll) {
    // Views in fit mode are refitted once the bar has moved (splitterMoved).
    if (handle->cursor().shape() != Qt::SplitHCursor) handle->setCursor(Qt::SplitHCursor);
    return false;
  }
  // With Sync Scroll on the bar stays in the middle: no drag starts or goes on.
  const QPoint point = target == handle ? handle->mapToParent(mouse->position().toPoint())
                                        : mouse->position().toPoint();
  const bool dragging = (mouse->buttons() & Qt::LeftButton) && QWidget::mouseGrabber() == handle;
  if (!dragging && !handle->geometry().contains(point)) return false;
  handle->setCursor(Qt::ArrowCursor);
  return true;
}

bool CMainFrame::OnIdle() {
  UIUpdateToolBar();
  return false;
}

void CMainFrame::OnViewToolBar() {
  m_toolBarVisible = !m_toolBarVisible;
  m_toolBar->setVisible(m_toolBarVisible);
  UISetCheck(ids::ViewToolBar, m_toolBarVisible);
}

void CMainFrame::OnViewStatusBar() {
  const bool visible = statusBar()->isHidden();
  statusBar()->setVisible(visible);
  UISetCheck(ids::ViewStatusBar, visible);
}

void CMainFrame::EnableZoomToMenu(bool enable) { m_zoomToMenu->menuAction()->setEnabled(enable); }

void CMainFrame::SetZoomToMark(int commandId) {
  QAction* marked = nullptr;
  for (QAction* action : m_zoomToGroup->actions())
    if (action->data().toInt() == commandId) marked = action;
  if (commandId != 0 && !marked) return;
  m_zoomToMark = commandId;
  for (QAction* action : m_zoomToGroup->actions()) action->setChecked(action == marked);
}

void CMainFrame::RedrawCaptions() {
  for (CMyPaneContainer* pane : {m_leftPane, m_rightPane})
    pane->repaint(0, 0, pane->width(), pane->CaptionHeight());
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  // The splitter keeps the bar's proportion when it is resized: note the
  // share before its own layout runs; resizeEvent applies it afterwards.
  if (watched == m_splitter && event->type() == QEvent::Resize && !m_compare) {
    const QList<int> sizes = m_splitter->sizes();
    const auto* resize = static_cast<QResizeEvent*>(event);
    if (resize->oldSize().width() > 0 && sizes.size() == 2 && sizes[0] + sizes[1] > 0)
      m_splitterRatio = static_cast<double>(sizes[0]) / (sizes[0] + sizes[1]);
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  // While one pane shows both pictures the other's share waits for its return.
  if (!m_compare) ApplySplitterRatio();
  RefitViews();
}

void CMainFrame::ApplySplitterRatio() {
  const QList<int> sizes = m_splitter->sizes();
  if (sizes.size() == 2 && sizes[0] + sizes[1] > 0) {
    const int total = sizes[0] + sizes[1];
    const int left = static_cast<int>(std::lround(total * m_splitterRatio));
    m_splitter->setSizes({left, total - left});
  }
}
