#include "views/CRatioDlg.h"

#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "platform/CDialogBuilder.h"
#include "platform/CUpDown.h"
#include "platform/NumberParsing.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

namespace {
constexpr int kEditId = 1000;
constexpr int kSpinId = 1006;
constexpr int kLowest = 10;
constexpr int kHighest = 2000;
}  // namespace

CRatioDlg::CRatioDlg(QWidget* owner) : QDialog(owner) {
  const QHash<int, QWidget*> controls = platform::BuildDialog(*this, res::Dialog(ids::DlgZoomTo));
  m_edit = qobject_cast<QLineEdit*>(controls.value(kEditId));
  m_spin = qobject_cast<platform::CUpDown*>(controls.value(kSpinId));
  if (auto* ok = qobject_cast<QPushButton*>(controls.value(ids::IdOk))) {
    connect(ok, &QPushButton::clicked, this, &CRatioDlg::accept);
  }
  if (auto* cancel = qobject_cast<QPushButton*>(controls.value(ids::IdCancel))) {
    connect(cancel, &QPushButton::clicked, this, &CRatioDlg::reject);
  }
  if (m_edit) connect(m_edit, &QLineEdit::textChanged, this, &CRatioDlg::ReadEdit);
  if (m_spin) {
    m_spin->SetBuddy(m_edit);
    connect(m_spin, &platform::CUpDown::stepped, this, &CRatioDlg::OnSpin);
  }
}

void CRatioDlg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  WriteEdit(m_value);
  platform::CentreOverOwner(*this);
  SelectEdit();
}

void CRatioDlg::ReadEdit() {
  if (!m_edit) return;
  const std::optional<int32_t> number = platform::ParseInt32(m_edit->text().toStdString());
  if (!number) {
    m_value = 100;
  } else if (*number < 1) {
    m_value = 1;
  } else if (*number > kHighest) {
    m_value = kHighest;
  } else {
    m_value = *number;
    return;
  }
  // Writing the corrected value raises another change, which reads it back.
  WriteEdit(m_value);
  SelectEdit();
}

void CRatioDlg::OnSpin(int step) {
  m_value = std::clamp(m_value + step, kLowest, kHighest);
  WriteEdit(m_value);
}

void CRatioDlg::WriteEdit(int value) {
  if (m_edit) m_edit->setText(QString::number(value));
}

void CRatioDlg::SelectEdit() {
  if (!m_edit) return;
  m_edit->selectAll();
  m_edit->setFocus(Qt::OtherFocusReason);
}

void CRatioDlg::accept() {
  ReadEdit();
  if (m_value >= kLowest && m_value <= kHighest) {
    QDialog::accept();
    return;
  }
  platform::MessageBox(this, QStringLiteral("Value must be from 10 to 2000"),
                       QStringLiteral("Warning"), platform::MbIcon::Information,
                       platform::MbButtons::Ok);
  m_value = m_value < kLowest ? kLowest : kHighest;
  WriteEdit(m_value);
}
