#include "platform/Prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <utility>

#include "res/CommandIds.h"

namespace platform {

namespace {

// The test seam: prompts go to this responder when one is installed.
// UI thread only, like the prompts themselves.
PromptResponder& CurrentResponder() {
  static PromptResponder responder;
  return responder;
}

QMessageBox::Icon ToQt(MbIcon icon) {
  switch (icon) {
    case MbIcon::Information:
      return QMessageBox::Information;
    case MbIcon::Warning:
      return QMessageBox::Warning;
    case MbIcon::Question:
      return QMessageBox::Question;
    case MbIcon::Error:
      return QMessageBox::Critical;
    case MbIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// "JPEGs (*.jpg, *.jpeg)" with "*.jpg;*.jpeg" becomes "JPEGs (*.jpg, *.jpeg) (*.jpg *.jpeg)";
// the dialog hides the trailing pattern list and shows the description as it is.
QStringList NameFilters(const std::vector<FileFilter>& filters) {
  QStringList result;
  for (const FileFilter& filter : filters) {
    QString patterns = filter.patterns;
    patterns.replace(u';', u' ');
    result << QStringLiteral("%1 (%2)").arg(filter.description, patterns);
  }
  return result;
}

std::optional<FileChoice> RunFileDialog(QFileDialog& dialog, const std::vector<FileFilter>& filters,
                                        const QString& proposedName) {
  const QStringList nameFilters = NameFilters(filters);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(nameFilters);
  if (!nameFilters.isEmpty()) dialog.selectNameFilter(nameFilters.first());
  if (!proposedName.isEmpty()) dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  // With the details hidden the dialog may name the filter by its description alone.
  const QString selected = dialog.selectedNameFilter();
  int index = 1;
  for (size_t i = 0; i < filters.size(); ++i)
    if (selected == nameFilters[static_cast<qsizetype>(i)] || selected == filters[i].description)
      index = static_cast<int>(i) + 1;
  return FileChoice{dialog.selectedFiles().first(), index};
}

}  // namespace

int MessageBox(QWidget* owner, const QString& text, const QString& caption, MbIcon icon,
               MbButtons buttons) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::Message, owner, text, caption, icon, buttons, {}};
    return responder(record).button;
  }
  QMessageBox box(ToQt(icon), caption, text, QMessageBox::NoButton, owner);
  switch (buttons) {
    case MbButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MbButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MbButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return ids::IdYes;
    case QMessageBox::No:
      return ids::IdNo;
    case QMessageBox::Ok:
      return ids::IdOk;
    default:
      return buttons == MbButtons::Ok ? ids::IdOk : ids::IdCancel;
  }
}

std::optional<FileChoice> GetOpenFileName(QWidget* owner, const std::vector<FileFilter>& filters) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::OpenFile, owner,         {},     {},
                        MbIcon::None,           MbButtons::Ok, filters};
    return responder(record).file;
  }
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The typed name need not exist: reading it is what tells whether it is usable.
  dialog.setFileMode(QFileDialog::AnyFile);
  return RunFileDialog(dialog, filters, {});
}

std::optional<FileChoice> GetSaveFileName(QWidget* owner, const std::vector<FileFilter>& filters,
                                          const QString& proposedName) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::SaveFile, owner,         proposedName, {},
                        MbIcon::None,           MbButtons::Ok, filters};
    return responder(record).file;
  }
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Overwriting an existing file is confirmed by the dialog itself.
  return RunFileDialog(dialog, filters, proposedName);
}

ScopedPromptResponder::ScopedPromptResponder(PromptResponder responder)
    : m_previous(std::exchange(CurrentResponder(), std::move(responder))) {}

ScopedPromptResponder::~ScopedPromptResponder() { CurrentResponder() = std::move(m_previous); }

}  // namespace platform
