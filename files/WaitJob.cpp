// The pattern shared by loading and saving: a worker behind the wait dialog.
#include <QApplication>

#include "app/CMainFrame.h"
#include "files/CWaitDlg.h"
#include "platform/CJob.h"

CWaitDlg& CMainFrame::WaitDlg() {
  if (!m_waitDlg) m_waitDlg = new CWaitDlg(this);
  return *m_waitDlg;
}

QWidget* CMainFrame::DialogOwner() {
  QWidget* active = QApplication::activeWindow();
  return active ? active : this;
}

std::shared_ptr<platform::CJob> CMainFrame::StartWaitJob(
    void (CMainFrame::*worker)(platform::CJob&)) {
  return StartWorker([this, worker](platform::CJob& job) { (this->*worker)(job); });
}

void CMainFrame::RunWaitJob(const std::shared_ptr<platform::CJob>& job, unsigned doneMsg,
                            const QString& text) {
  m_worker = job;
  job->Go();
  CWaitDlg& dialog = WaitDlg();
  dialog.m_notifyWnd = this;
  dialog.m_doneMsg = doneMsg;
  dialog.m_text = text;
  dialog.m_job = job;
  dialog.DoModal();
  dialog.m_job = nullptr;
}

CMainFrame::WaitOutcome CMainFrame::SettleWaitJob(uintptr_t wParam,
                                                  const std::shared_ptr<platform::CJob>& job) {
  // A message of a job that is no longer ours, or was given up, counts for nothing.
  if (!job || job != m_worker || job->IsAbandoned()) return WaitOutcome::Ignored;
  const bool aborted = wParam != 0;
  // Abort after the worker had posted its outcome: that message counts.
  if (aborted && !AbandonWorker()) return WaitOutcome::Ignored;
  if (m_waitDlg && m_waitDlg->isVisible()) m_waitDlg->done(0);
  // An abandoned worker stops at its next read or write; whatever next needs
  // the images waits for it to end (EndWorker).
  if (aborted) return WaitOutcome::Aborted;
  EndWorker();
  return WaitOutcome::Completed;
}
