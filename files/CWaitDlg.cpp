#include "files/CWaitDlg.h"

#include <QLabel>
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
}

int CWaitDlg::DoModal() { return exec(); }

void CWaitDlg::reject() {}

void CWaitDlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  OnInitDialog();
}

void CWaitDlg::OnInitDialog() {
  if (m_label) m_label->setText(m_text);
  platform::CentreOverOwner(*this);
  if (m_abort) m_abort->setFocus();
}

void CWaitDlg::OnAbort() {
  // Posted before the dialog ends, so the frame handles it once the modal
  // loop has returned and finds no dialog left to end.
  if (m_notifyWnd) platform::PostFrameMessage(m_notifyWnd, m_doneMsg, 1, 0, m_job);
  done(0);
}
