#include "app/CMainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QMetaObject>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimerEvent>
#include <chrono>
#include <system_error>

#include "files/CWaitDlg.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "resize/CProgressDlg.h"
#include "resize/ResizeRules.h"
#include "views/CEnlargerView.h"

namespace {

// A worker that has posted its done message, or was given up, returns within
// one progress report: waiting this long keeps the UI answering, and a
// longer wait is shown in the wait dialog.
constexpr std::chrono::milliseconds kBriefWait{40};
constexpr int kPollMs = 15;
constexpr std::chrono::milliseconds kPollSlice{kPollMs};

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
          {ids::ZoomTo100, UIToolBar},
          {ids::FileClearRecent, UIMenuPopup},
          {ids::EditCopyResult, UIMenuPopup},
          {ids::CompareInOnePane, UIMenuPopup}};
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
      // 0, the contents, or the help context of the dialog where F1 was pressed.
      OnHelp(static_cast<int>(wParam), reinterpret_cast<QWidget*>(lParam));
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
  EndLoadFailureWord();
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
    case ids::FileClearRecent:
      OnClearRecent();
      return;
    case ids::EditPaste:
      OnEditPaste();
      return;
    case ids::EditCopyResult:
      OnEditCopyResult();
      return;
    case ids::CompareInOnePane:
      OnCompareInOnePane();
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
      if (id >= ids::FileRecentFirst && id < ids::FileRecentFirst + ids::FileRecentCount)
        OnFileRecent(id - ids::FileRecentFirst);
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
  // A job still running is given up without a word, as teardown gives it up;
  // otherwise an unsaved result is asked about.
  const bool jobRunning = m_worker && !m_worker->IsAbandoned() && AbandonWorker();
  if (!jobRunning && !SettleUnsavedResult()) return;  // the result is kept, and the window
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
  // Nothing a running worker may touch is freed, and FreeImage stays, until
  // it has ended.
  AbandonWorker();
  EndWorker();
  for (CEnlargerView* view : {m_leftView, m_rightView})
    if (view) view->SetImage(nullptr);
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
    RestoreFrame();
    if (m_progressDlg->isVisible()) {
      m_progressDlg->activateWindow();
      m_progressDlg->setFocus();
    }
  } else {
    int pane = m_activePane;
    // Nothing to show as active yet. The view's image, since a load worker
    // may be committing m_source while the wait dialog changes activation.
    if (pane == 0 && !m_leftView->Image()) pane = -1;
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

std::shared_ptr<platform::CJob> CMainFrame::StartWorker(std::function<void(platform::CJob&)> work) {
  EndWorker();
  try {
    return platform::CJob::Prepare(std::move(work));
  } catch (const std::system_error& error) {
    platform::MessageBox(
        this,
        QStringLiteral("The work cannot be started: %1").arg(QString::fromLocal8Bit(error.what())),
        QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
    return nullptr;
  }
}

bool CMainFrame::AbandonWorker() { return m_worker && m_worker->Abandon(); }

void CMainFrame::EndWorker() {
  const std::shared_ptr<platform::CJob> job = m_worker;
  if (!job) return;
  if (!job->WaitForEnd(kBriefWait)) {
    CWaitDlg& dialog = WaitDlg();
    const bool shown = isVisible();
    if (shown) {
      dialog.m_text = QStringLiteral("Please wait...");
      dialog.m_notifyWnd = nullptr;
      dialog.m_job = nullptr;
      // Nothing to abort: the worker has been given up or has finished.
      dialog.AbortButton()->hide();
      dialog.setWindowModality(Qt::ApplicationModal);
      dialog.show();
    }
    // Events are handled between short waits, also while a dialog is closing
    // or the application is quitting, when no event loop would run.
    while (!job->WaitForEnd(kPollSlice))
      QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
    if (shown) {
      dialog.hide();
      dialog.AbortButton()->show();
    }
  }
  if (m_worker == job) m_worker.reset();
}

void CMainFrame::RestoreFrame() {
  if (m_showCmd == kShowMaximize)
    showMaximized();
  else
    showNormal();
}

std::optional<uint64_t> CMainFrame::AvailableMemory() const {
  return m_memoryStatus ? m_memoryStatus() : resize::AvailableMemoryBytes();
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
