#include "platform/Prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QLineEdit>
#include <QMessageBox>
#include <algorithm>
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

// The name Qt's dialog makes of `name` when the type changes to one whose
// first pattern is `pattern`: what follows the name's last dot is replaced.
QString NameAfterTypeChange(const QString& name, const QString& pattern) {
  const QString suffix = QFileInfo(name).suffix();
  const QString extension = QFileInfo(pattern).suffix();
  if (suffix.isEmpty() || extension.isEmpty()) return name;
  return name.left(name.size() - suffix.size()) + extension;
}

// The path a typed name is written under.
QString FinalPath(const FinalName& finalName, const QString& typed, int filterIndex) {
  return finalName ? finalName(typed, filterIndex) : typed;
}

// The question before a file is replaced; true to go on.
bool MayReplace(QWidget* owner, const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return true;
  return MessageBox(
             owner,
             QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(info.fileName()),
             QStringLiteral("Confirm"), MbIcon::Warning, MbButtons::YesNo) == ids::IdYes;
}

int SelectedIndex(const QFileDialog& dialog, const std::vector<FileFilter>& filters,
                  const QStringList& nameFilters) {
  // With the details hidden the dialog may name the filter by its description alone.
  const QString selected = dialog.selectedNameFilter();
  int index = 1;
  for (size_t i = 0; i < filters.size(); ++i)
    if (selected == nameFilters[static_cast<qsizetype>(i)] || selected == filters[i].description)
      index = static_cast<int>(i) + 1;
  return index;
}

// A save dialog whose name is the user's: a change of type puts back the
// name Qt rewrote, and the name is taken whole as typed (Qt would read
// quotes as a list of names).
class CSaveDialog : public QFileDialog {
 public:
  CSaveDialog(QWidget* owner, const std::vector<FileFilter>& filters, FinalName finalName)
      : QFileDialog(owner), m_filters(filters), m_finalName(std::move(finalName)) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontUseNativeDialog);
    m_edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!m_edit) return;
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString& text) {
      m_before = m_now;
      m_now = text;
    });
    connect(this, &QFileDialog::filterSelected, this, [this, filters](const QString& filter) {
      for (const FileFilter& f : filters) {
        if (!filter.startsWith(f.description)) continue;
        if (m_now != m_before &&
            m_now == NameAfterTypeChange(m_before, f.patterns.section(u';', 0, 0)))
          m_edit->setText(m_before);
        return;
      }
    });
  }

  QString Chosen() const { return m_chosen; }

  void accept() override {
    const QString typed = m_edit ? m_edit->text() : QString();
    if (typed.isEmpty()) return;
    const QString path = QDir::isAbsolutePath(typed) ? typed : directory().filePath(typed);
    const QFileInfo info(path);
    if (info.isDir()) {
      setDirectory(path);
      m_edit->clear();
      return;
    }
    // The question is about the file that will be written.
    const QString final =
        FinalPath(m_finalName, path, SelectedIndex(*this, m_filters, nameFilters()));
    if (!MayReplace(this, final)) return;
    m_chosen = path;
    QDialog::accept();
  }

 private:
  std::vector<FileFilter> m_filters;
  FinalName m_finalName;
  QLineEdit* m_edit = nullptr;
  QString m_before;
  QString m_now;
  QString m_chosen;
};

// The detail list's Size, Type and Date columns take the width their texts
// need and the name the rest, in a dialog wide enough for all four.
void ShowColumnsWhole(QFileDialog& dialog) {
  QSize size(860, 500);
  if (const QScreen* screen = dialog.screen())
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  dialog.resize(size.expandedTo(dialog.size()));
  auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!tree) return;
  QHeaderView* header = tree->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int column = 1; column < header->count(); ++column)
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

void PrepareDialog(QFileDialog& dialog, const QStringList& nameFilters, int selectedFilter) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  ShowColumnsWhole(dialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(nameFilters);
  if (!nameFilters.isEmpty())
    dialog.selectNameFilter(
        nameFilters.at(std::clamp<qsizetype>(selectedFilter - 1, 0, nameFilters.size() - 1)));
}

std::optional<FileChoice> RunFileDialog(QFileDialog& dialog, const std::vector<FileFilter>& filters,
                                        const QString& proposedName) {
  const QStringList nameFilters = NameFilters(filters);
  PrepareDialog(dialog, nameFilters, 1);
  if (!proposedName.isEmpty()) dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return FileChoice{dialog.selectedFiles().first(), SelectedIndex(dialog, filters, nameFilters)};
}

}  // namespace

int MessageBox(QWidget* owner, const QString& text, const QString& caption, MbIcon icon,
               MbButtons buttons) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::Message, owner, text, caption, icon, buttons, {}, {}, 1};
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

std::optional<FileChoice> GetOpenFileName(QWidget* owner, const std::vector<FileFilter>& filters,
                                          const QString& folder) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::OpenFile, owner,   {},     {}, MbIcon::None,
                        MbButtons::Ok,          filters, folder, 1};
    return responder(record).file;
  }
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The typed name need not exist: reading it is what tells whether it is usable.
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  return RunFileDialog(dialog, filters, {});
}

std::optional<FileChoice> GetSaveFileName(QWidget* owner, const std::vector<FileFilter>& filters,
                                          const QString& proposedName, const QString& folder,
                                          int selectedFilter, const FinalName& finalName) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::SaveFile, owner,         proposedName, {},
                        MbIcon::None,           MbButtons::Ok, filters,      folder,
                        selectedFilter};
    // As the dialog does: No to the question shows it again with the name,
    // folder and type that were chosen.
    for (;;) {
      std::optional<FileChoice> choice = responder(record).file;
      if (!choice) return std::nullopt;
      const QString final = FinalPath(finalName, choice->path, choice->filterIndex);
      if (MayReplace(owner, final)) return choice;
      const QFileInfo typed(choice->path);
      record.text = typed.fileName();
      record.folder = typed.path();
      record.filterIndex = choice->filterIndex;
    }
  }
  const QStringList nameFilters = NameFilters(filters);
  CSaveDialog dialog(owner, filters, finalName);
  PrepareDialog(dialog, nameFilters, selectedFilter);
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  // Set as text, not selected as a file: a name is never read as a list.
  if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
    edit->setText(proposedName);
  // Replacing an existing file is confirmed by the dialog itself.
  if (dialog.exec() != QDialog::Accepted || dialog.Chosen().isEmpty()) return std::nullopt;
  return FileChoice{dialog.Chosen(), SelectedIndex(dialog, filters, nameFilters)};
}

bool ExecDialog(QDialog& dialog) {
  if (const PromptResponder& responder = CurrentResponder()) {
    PromptRecord record{PromptRecord::Dialog,
                        &dialog,
                        {},
                        dialog.windowTitle(),
                        MbIcon::None,
                        MbButtons::Ok,
                        {},
                        {},
                        1};
    return responder(record).button != ids::IdCancel;
  }
  return dialog.exec() == QDialog::Accepted;
}

ScopedPromptResponder::ScopedPromptResponder(PromptResponder responder)
    : m_previous(std::exchange(CurrentResponder(), std::move(responder))) {}

ScopedPromptResponder::~ScopedPromptResponder() { CurrentResponder() = std::move(m_previous); }

}  // namespace platform
