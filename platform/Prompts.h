#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

// Every message box and file dialog of the program goes through here, so
// that tests can answer them and read what they show. UI thread only.
namespace platform {

enum class MbIcon { None, Information, Warning, Question, Error };
enum class MbButtons { Ok, YesNo, YesNoCancel };

// Answers: ids::IdOk, ids::IdYes, ids::IdNo, ids::IdCancel.
int MessageBox(QWidget* owner, const QString& text, const QString& caption, MbIcon icon,
               MbButtons buttons);

struct FileFilter {
  QString description;  // "All Supported Files"
  QString patterns;     // "*.jpg;*.jpeg;..."
};

struct FileChoice {
  QString path;     // full path, UTF-8 capable
  int filterIndex;  // 1-based index of the selected filter
};

// The open dialog, in folder (empty: the platform's default): the typed file
// need not exist.
std::optional<FileChoice> GetOpenFileName(QWidget* owner, const std::vector<FileFilter>& filters,
                                          const QString& folder = {});
// The name a file is written under, from the path as typed and the 1-based
// filter chosen (an extension the type needs, say).
using FinalName = std::function<QString(const QString& typed, int filterIndex)>;

// The save dialog, in folder (empty: the platform's default) with the
// 1-based filter selected. The name is the user's as typed, quotes
// included: choosing another type leaves it alone, and the path given back
// is the one typed. The file asked about before it is replaced is the one
// finalName makes of that path (the typed one without it); No leaves the
// user in the dialog.
std::optional<FileChoice> GetSaveFileName(QWidget* owner, const std::vector<FileFilter>& filters,
                                          const QString& proposedName, const QString& folder = {},
                                          int selectedFilter = 1, const FinalName& finalName = {});

// A small dialog of the program's own (an options dialog), shown modally;
// true when accepted. A responder sees it with the dialog as owner and its
// title as caption, may set its controls, and cancels it with ids::IdCancel.
bool ExecDialog(QDialog& dialog);

// What a test sees of a prompt, and how it answers.
struct PromptRecord {
  enum Kind { Message, OpenFile, SaveFile, Dialog } kind;
  QWidget* owner;
  QString text;     // message text, or the proposed file name
  QString caption;  // message caption
  MbIcon icon = MbIcon::None;
  MbButtons buttons = MbButtons::Ok;
  std::vector<FileFilter> filters;
  QString folder;       // the file dialog's starting folder
  int filterIndex = 1;  // the save dialog's selected type
};

struct PromptAnswer {
  int button = 0;                  // for message boxes
  std::optional<FileChoice> file;  // for file dialogs; nullopt = cancelled
};

using PromptResponder = std::function<PromptAnswer(const PromptRecord&)>;

// While a ScopedPromptResponder lives, prompts are answered by it instead of
// being shown.
class ScopedPromptResponder {
 public:
  explicit ScopedPromptResponder(PromptResponder responder);
  ~ScopedPromptResponder();
  ScopedPromptResponder(const ScopedPromptResponder&) = delete;
  ScopedPromptResponder& operator=(const ScopedPromptResponder&) = delete;

 private:
  PromptResponder m_previous;
};

}  // namespace platform
