#include "files/CWaitDlg.h"

#include <algorithm>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "platform/CDialogBuilder.h"
#include "platform/FrameMessages.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

namespace {
constexpr int kTextId = 1001;
constexpr int kAbortId = 1002;
}  // namespace

CWaitDlg::CWaitDlg(QWidget* parent) : QDialog(parent) {
  QHash<int, QWidget*> controls = platform::BuildDialog(*this, res::Dialog(ids::DlgWait));
  m_label = qobject_cast<QLabel*>(controls.value(kTextId));
  m_abort = qobject_cast<QPushButton*>(controls.value(kAbortId));
  if (m_abort) connect(m_abort, &QPushButton::clicked, this, &CWaitDlg::OnAbort);
  m_plainSize = size();
  if (m_abort) m_plainAbort = m_abort->geometry();
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 1000);
  m_bar->setTextVisible(false);
  m_bar->hide();
  m_poll.setInterval(100);
  connect(&m_poll, &QTimer::timeout, this, &CWaitDlg::ShowProgress);
}

void CWaitDlg::PlaceBar(bool shown) {
  if (!m_label || !m_abort) return;
  m_bar->setVisible(shown);
  if (!shown) {
    m_abort->setGeometry(m_plainAbort);
    setFixedSize(m_plainSize);
    return;
  }
  const QRect text = m_label->geometry();
  const int gap = text.height() / 2;
  const int height = m_bar->sizeHint().height();
  m_bar->setGeometry(text.left(), text.bottom() + gap, text.width(), height);
  m_abort->setGeometry(m_plainAbort.translated(0, height + gap));
  setFixedSize(m_plainSize.width(), m_plainSize.height() + height + gap);
}

void CWaitDlg::ShowProgress() {
  const int value = m_progress ? m_progress->load() : -1;
  if (value < 0) return;
  // Shown from the writer's first word on: formats whose writer tells
  // nothing get no bar that would stand still.
  if (!m_bar->isVisible()) PlaceBar(true);
  m_bar->setValue(std::min(value, 1000));
}

int CWaitDlg::DoModal() { return exec(); }

void CWaitDlg::reject() {}

void CWaitDlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  OnInitDialog();
}

void CWaitDlg::OnInitDialog() {
  if (m_label) m_label->setText(m_text);
  PlaceBar(false);
  m_bar->setValue(0);
  if (m_progress) {
    m_poll.start();
  } else {
    m_poll.stop();
  }
  platform::CentreOverOwner(*this);
  if (m_abort) m_abort->setFocus();
}

void CWaitDlg::OnAbort() {
  // Posted before the dialog ends, so the frame handles it once the modal
  // loop has returned and finds no dialog left to end.
  if (m_notifyWnd) platform::PostFrameMessage(m_notifyWnd, m_doneMsg, 1, 0, m_job);
  done(0);
}

void CWaitDlg::done(int result) {
  m_poll.stop();
  QDialog::done(result);
}
