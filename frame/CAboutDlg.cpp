#include "frame/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "platform/CDialogBuilder.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

namespace {
constexpr int kProductLine = 1001;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner) {
  const QHash<int, QWidget*> controls = platform::BuildDialog(*this, res::Dialog(ids::DlgAbout));
  if (auto* ok = qobject_cast<QPushButton*>(controls.value(ids::IdOk))) {
    connect(ok, &QPushButton::clicked, this, [this] { OnCloseCmd(ids::IdOk); });
    ok->setDefault(true);
  }
  OnInitDialog(controls);
}

void CAboutDlg::OnInitDialog(const QHash<int, QWidget*>& controls) {
  // A string missing from the table reads as empty; the line is still formed.
  if (auto* line = qobject_cast<QLabel*>(controls.value(kProductLine))) {
    line->setText(res::LoadString(ids::StrAppName) + QLatin1Char(' ') +
                  res::LoadString(ids::StrVersion));
  }
  platform::CentreOverOwner(*this);
  if (QWidget* ok = controls.value(ids::IdOk)) ok->setFocus();
}

void CAboutDlg::reject() { OnCloseCmd(ids::IdCancel); }

void CAboutDlg::OnCloseCmd(int id) { done(id); }
