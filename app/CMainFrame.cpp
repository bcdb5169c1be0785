#include "app/CMainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QMetaObject>
#include <QTimerEvent>
#include <chrono>

#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "res/CommandIds.h"
#include "resize/CProgressDlg.h"
#include "views/CEnlargerView.h"

namespace {

// How long teardown and the done handlers wait for a worker thread to return.
// A worker that was asked to stop returns at its next progress report; one
// that has posted its done message returns at once.
constexpr std::chrono::milliseconds kWorkerEndBound{5000};

std::vector<platform::CUpdateUI::Entry> UpdateUIMap() {
  using namespace platform;
  return {{ids::SyncScroll, UIMenuPopup | UIToolBar},
          {ids::SyncZoom, UIMenuPopup | UIToolBar},
          {ids::ViewToolBar, UIMenuPopup},
          {ids::ViewStatusBar, UIMenuPopup},
          {ids::FileSaveResizedAs, UIMenuPopup | UIToolBar},
          {ids::Resize, UIMenuPopup | UIToolBar},
          {ids::ZoomIn, UIMenuPopup | UIToolBar},
          {ids::ZoomOut, UIMenuPopup | UIToolBar},
          {ids::ZoomToFit, UIMenuPopup | UIToolBar},
          {ids::ZoomTo100, UIToolBar}};
}

}  // namespace

CMainFrame::CMainFrame() : platform::CUpdateUI(UpdateUIMap()) { OnCreate(); }

CMainFrame::~CMainFrame() {
  // Hide while the frame is still whole: losing the focus makes the percent
  // box report a choice, and the children may still call back into the frame.
  m_percentCombo->disconnect(this);
  hide();
  if (!m_destroyed) ReleaseResources();
}

bool CMainFrame::event(QEvent* e) {
  if (e->type() == platform::FrameMessageEvent::kType) {
    auto* m = static_cast<platform::FrameMessageEvent*>(e);
    // After teardown the images are gone: late reports change nothing.
    if (!m_destroyed) OnFrameMessage(m->message, m->wParam, m->lParam, m->job);
    return true;
  }
  return QMainWindow::event(e);
}

intptr_t CMainFrame::OnFrameMessage(unsigned message, uintptr_t wParam, intptr_t lParam,
                                    const std::shared_ptr<platform::CJob>& job) {
  switch (message) {
    case WM_HELP:
      OnHelp(0);
      return 1;
    case WM_TIMER:
      OnJobTimer(static_cast<int>(wParam));
      break;
    case WM_PERCENT_COMMIT:
      OnPercentCommit(lParam);
      break;
    case WM_LOAD_DONE:
      OnLoadDone(wParam, lParam, job);
      break;
    case WM_SAVE_DONE:
      OnSaveDone(wParam, lParam, job);
      break;
    case WM_RESIZE_DONE:
      OnResizeDone(wParam, lParam, job);
      break;
    case WM_RESIZE_PROGRESS:
      OnResizeProgress(wParam, lParam);
      break;
    default:
      break;
  }
  return 0;
}

void CMainFrame::OnCommand(int id) {
  if (m_commandObserver) m_commandObserver(id);
  switch (id) {
    case ids::FileExit:
      // Exit is a close request like any other, prompt included.
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      return;
    case ids::FileOpen:
      OnFileOpen();
      return;
    case ids::FileSaveResizedAs:
      OnSaveResizedAs();
      return;
    case ids::SyncScroll:
      OnSyncScroll();
      return;
    case ids::SyncZoom:
      OnSyncZoom();
      return;
    case ids::ViewToolBar:
      OnViewToolBar();
      return;
    case ids::ViewStatusBar:
      OnViewStatusBar();
      return;
    case ids::AppAbout:
      OnAbout();
      return;
    case ids::Resize:
      OnResize();
      return;
    case ids::ZoomIn:
      OnZoomIn();
      return;
    case ids::ZoomToFit:
      OnZoomToFit();
      return;
    case ids::ZoomOut:
      OnZoomOut();
      return;
    case ids::HelpContents:
    case ids::HelpTechSupport:
    case ids::HelpGettingStarted:
      OnHelp(id);
      return;
    default:
      if (id >= ids::ZoomToFirst && id <= ids::ZoomToOther) OnZoomTo(id);
      return;
  }
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  // The close handler decides and hides the window itself.
  e->ignore();
  OnClose();
}

void CMainFrame::OnClose() {
  if (m_destroyed) return;
  if (!m_resultSaved && !PromptToSaveResult()) return;  // Cancel keeps the window
  OnDestroy();
}

void CMainFrame::OnDestroy() {
  if (m_destroyed) return;
  ReleaseResources();
  hide();
  platform::PostQuitMessage(0);
}

void CMainFrame::ReleaseResources() {
  m_destroyed = true;
  platform::UnregisterMessageLoopHooks(this);
  for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it) killTimer(it.key());
  m_timers.clear();
  bool workerGone = true;
  if (m_worker) {
    m_worker->Abandon();
    workerGone = m_worker->WaitForEnd(kWorkerEndBound);
    if (workerGone) m_worker.reset();
  }
  for (CEnlargerView* view : {m_leftView, m_rightView})
    if (view) view->SetImage(nullptr);
  // A worker that has not returned may still be inside FreeImage reading these
  // images: they are left to the end of the process rather than freed under it.
  if (!workerGone) return;
  if (m_source) FreeImage_Unload(m_source);
  if (m_result) FreeImage_Unload(m_result);
  m_source = nullptr;
  m_result = nullptr;
  FreeImage_DeInitialise();
}

void CMainFrame::OnActivate(bool active) {
  if (!active) {
    m_leftPane->m_active = false;
    m_rightPane->m_active = false;
  } else if (m_progressDlg && m_progressDlg->IsWindow()) {
    // A resize job runs: bring the frame back as it was when the job began
    // and give the keyboard to the progress dialog; the pane marks stay.
    if (m_showCmd == 3)
      showMaximized();
    else
      showNormal();
    if (m_progressDlg->isVisible()) {
      m_progressDlg->activateWindow();
      m_progressDlg->setFocus();
    }
  } else {
    int pane = m_activePane;
    if (pane == 0 && !m_source) pane = -1;  // nothing to show as active yet
    m_leftPane->m_active = pane == 0;
    m_rightPane->m_active = pane == 1;
  }
  m_leftPane->update();
  m_rightPane->update();
}

void CMainFrame::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && m_leftPane) OnActivate(isActiveWindow());
}

void CMainFrame::AbandonWorker() {
  if (!m_worker) return;
  m_worker->Abandon();
  m_worker.reset();
}

void CMainFrame::EndWorker() {
  if (!m_worker) return;
  m_worker->WaitForEnd(kWorkerEndBound);
  m_worker.reset();
}

void CMainFrame::SetTimer(int id, int milliseconds) {
  KillTimer(id);
  m_timers.insert(startTimer(milliseconds), id);
}

void CMainFrame::KillTimer(int id) {
  for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
    if (it.value() == id) {
      killTimer(it.key());
      m_timers.erase(it);
      return;
    }
  }
}

void CMainFrame::timerEvent(QTimerEvent* e) {
  auto it = m_timers.constFind(e->timerId());
  if (it == m_timers.constEnd()) return QMainWindow::timerEvent(e);
  if (!m_destroyed) OnFrameMessage(WM_TIMER, static_cast<uintptr_t>(it.value()), 0, {});
}
