#include "resize/CProgressDlg.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/CMainFrame.h"
#include "platform/CDialogBuilder.h"
#include "platform/CJob.h"
#include "platform/FrameMessages.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

namespace {
constexpr int kAbort = 1002;
constexpr int kOverallBar = 1003;
constexpr int kStepBar = 1004;
constexpr int kWorkInBackground = 1005;
constexpr int kPauseResume = 1007;
}  // namespace

CProgressDlg::CProgressDlg(QWidget* owner) : QDialog(owner) {
  m_controls = platform::BuildDialog(*this, res::Dialog(ids::DlgProgress));
  connect(Button(kPauseResume), &QPushButton::clicked, this, &CProgressDlg::OnPauseResume);
  connect(Button(kAbort), &QPushButton::clicked, this, &CProgressDlg::OnAbort);
  connect(Button(kWorkInBackground), &QPushButton::clicked, this,
          &CProgressDlg::OnWorkInBackground);
  installEventFilter(this);
  for (int id : {kPauseResume, kAbort, kWorkInBackground}) Button(id)->installEventFilter(this);
}

QPushButton* CProgressDlg::Button(int id) const {
  return qobject_cast<QPushButton*>(m_controls.value(id));
}

int CProgressDlg::DoModal() {
  // A loop of our own rather than exec(): hiding the dialog with its
  // minimised owner must not end it.
  QEventLoop loop;
  m_loop = &loop;
  m_result = 0;
  OnInitDialog();
  setWindowModality(Qt::ApplicationModal);
  // A window manager minimises the dialog with its owner ("Work in
  // background"). Closed while minimised, it would open minimised the next
  // time and take its owner down with it.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  platform::CentreOverOwner(*this);
  Button(kWorkInBackground)->setFocus();
  loop.exec();
  // Also reached when the application's loops end under it.
  if (m_loop) OnClosed();
  return m_result;
}

void CProgressDlg::EndDialog(int result) {
  if (!m_loop) return;
  m_result = result;
  QEventLoop* loop = m_loop;
  OnClosed();
  loop->exit(result);
}

void CProgressDlg::OnInitDialog() {
  if (!m_overallBar) m_overallBar = qobject_cast<QProgressBar*>(m_controls.value(kOverallBar));
  if (!m_stepBar) m_stepBar = qobject_cast<QProgressBar*>(m_controls.value(kStepBar));
  m_overallBar->setRange(0, resize::kOverallUpper);
  m_stepBar->setRange(0, resize::kStepUpper);
  m_stages.Open();
  m_overallBar->setValue(1);
  m_stepBar->setValue(0);
  m_running = true;
  Button(kPauseResume)->setText(QStringLiteral("Pause"));
  m_inBackground = false;
  m_enterReleasedAt.reset();
  // Restoring the minimised owner brings the dialog back.
  m_watched = m_notifyWnd;
  if (m_watched) m_watched->installEventFilter(this);
}

void CProgressDlg::OnClosed() {
  if (m_watched) m_watched->removeEventFilter(this);
  m_watched = nullptr;
  m_overallBar = nullptr;
  m_stepBar = nullptr;
  m_loop = nullptr;
  hide();
}

void CProgressDlg::closeEvent(QCloseEvent* event) { event->ignore(); }

// Enter held down in the percent box opens the dialog with its first press;
// its repeats would press the focused button or the default one, "Work in
// background". A repeat comes as a press flagged so, or as a release and a
// press of the same moment, the way a virtual X server's repeats come.
bool CProgressDlg::IsRepeatedEnter(QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
  if (event->type() == QEvent::KeyRelease) {
    m_enterReleasedAt = key->timestamp();
    return false;
  }
  return key->isAutoRepeat() || m_enterReleasedAt == key->timestamp();
}

bool CProgressDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_watched && IsRepeatedEnter(event)) return true;
  if (watched == m_watched && event->type() == QEvent::WindowStateChange && m_inBackground &&
      !m_watched->isMinimized()) {
    m_inBackground = false;
    show();
    raise();
    activateWindow();
  }
  // The main window closing: its teardown has given up the job already.
  if (watched == m_watched && event->type() == QEvent::Hide && !event->spontaneous()) EndDialog(0);
  return QDialog::eventFilter(watched, event);
}

void CProgressDlg::Update(int stage, int value) { m_stages.Update(stage, value, *this); }

int CProgressDlg::OverallPosition() const {
  const auto* bar = qobject_cast<QProgressBar*>(m_controls.value(kOverallBar));
  return bar ? bar->value() : 0;
}

int CProgressDlg::OverallUpper() const {
  const auto* bar = qobject_cast<QProgressBar*>(m_controls.value(kOverallBar));
  return bar ? bar->maximum() : 0;
}

void CProgressDlg::OnPauseResume() {
  if (m_thread) {
    if (m_running)
      m_thread->Pause();
    else
      m_thread->Resume();
  }
  m_running = !m_running;
  Button(kPauseResume)->setText(m_running ? QStringLiteral("Pause") : QStringLiteral("Resume"));
}

void CProgressDlg::OnAbort() {
  // The frame's done handler abandons the job; a paused worker is not resumed
  // first, abandonment releases it where it waits.
  if (m_notifyWnd) platform::PostFrameMessage(m_notifyWnd, m_doneMsg, 1, 0, m_thread);
  EndDialog(0);
}

void CProgressDlg::OnWorkInBackground() {
  if (!m_notifyWnd) return;
  m_inBackground = true;
  // The dialog stays up, and modal: the window manager hides it with its
  // minimised owner, and where the owner does not minimise (no window
  // manager, or one that does not iconify) it keeps the frame from taking
  // commands while the job runs.
  m_notifyWnd->showMinimized();
}

bool CProgressDlg::HasBars() const { return m_overallBar && m_stepBar; }

// Positions beyond a bar's range push it to its end.
void CProgressDlg::SetOverall(int position) {
  if (m_overallBar) m_overallBar->setValue(std::clamp(position, 0, m_overallBar->maximum()));
}

void CProgressDlg::SetStep(int position) {
  if (m_stepBar) m_stepBar->setValue(std::clamp(position, 0, m_stepBar->maximum()));
}

void CProgressDlg::Pump() { CMainFrame::PumpMessages(); }
