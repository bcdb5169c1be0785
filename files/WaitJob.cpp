// The pattern shared by loading and saving: a worker behind the wait dialog.
#include <QApplication>
#include <chrono>
#include <system_error>

#include "app/CMainFrame.h"
#include "files/CWaitDlg.h"
#include "platform/CJob.h"

namespace {
constexpr std::chrono::milliseconds kAbandonedWorkerBound{5000};
}  // namespace

CWaitDlg& CMainFrame::WaitDlg() {
  if (!m_waitDlg) m_waitDlg = new CWaitDlg(this);
  return *m_waitDlg;
}

QWidget* CMainFrame::DialogOwner() {
  QWidget* active = QApplication::activeWindow();
  return active ? active : this;
}

void CMainFrame::RunWaitJob(void (CMainFrame::*worker)(platform::CJob&), unsigned doneMsg,
                            const QString& text) {
  try {
    m_worker = platform::CJob::Start([this, worker](platform::CJob& job) { (this->*worker)(job); });
  } catch (const std::system_error&) {
    // No thread, so no done message: the dialog stays until Abort, and the
    // frame stays as it was left for the load or save.
    m_worker = nullptr;
  }
  CWaitDlg& dialog = WaitDlg();
  dialog.m_notifyWnd = this;
  dialog.m_doneMsg = doneMsg;
  dialog.m_text = text;
  dialog.DoModal();
}

CMainFrame::WaitOutcome CMainFrame::SettleWaitJob(const std::shared_ptr<platform::CJob>& job) {
  if (job) {
    // A worker's own message; an abandoned job posts none, so another job's
    // message can only be a leftover of one that is no longer ours.
    if (job != m_worker) return WaitOutcome::Ignored;
  } else if (!m_worker || !m_worker->Abandon()) {
    // Abort came after the worker had posted its outcome: that message has
    // been handled already or is on its way, and it counts.
    return WaitOutcome::Ignored;
  }
  if (m_waitDlg && m_waitDlg->isVisible()) m_waitDlg->done(0);
  if (!job) {
    // The abandoned worker stops at its next read or write; waiting for it
    // keeps it from saving an image that the next command frees, or from
    // being inside FreeImage when the frame closes.
    std::shared_ptr<platform::CJob> abandoned = m_worker;
    AbandonWorker();
    if (abandoned) abandoned->WaitForEnd(kAbandonedWorkerBound);
    return WaitOutcome::Aborted;
  }
  EndWorker();
  return WaitOutcome::Completed;
}
