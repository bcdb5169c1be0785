#pragma once

#include <QDialog>
#include <QHash>

class QLineEdit;
class QPushButton;
namespace platform {
class CUpDown;
}

// The "Resize parameters" dialog (template 203) behind "Other..." in the
// percent box: percent, width and height boxes that follow each other, the
// percent being the value that counts. Lives on the stack of the command that
// runs it; UI thread only.
class CResizeDlg : public QDialog {
 public:
  explicit CResizeDlg(QWidget* owner);

  // Runs the dialog modally: 1 after OK, 2 after Cancel.
  int DoModal();

  QLineEdit* Box(int id) const;
  QPushButton* OkButton() const;
  platform::CUpDown* UpDown() const;

  int m_percent = 100;
  int m_width = 0;
  int m_height = 0;
  int m_maxWidth = 0;
  int m_maxHeight = 0;
  int m_srcWidth = 0;
  int m_srcHeight = 0;
  bool m_updating = false;
  // The box the user typed in last: a typed width or height is what the job
  // makes exactly, the whole percent only approaches it.
  enum class Typed { Percent, Width, Height };
  Typed m_typed = Typed::Percent;

  // OK reads the boxes and ends with 1; Cancel ends with 2.
  void accept() override;
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  void OnPercentChange();
  void OnWidthChange();
  void OnHeightChange();
  void OnUpDown(int step);

  // Reads a box into its member; false (and the box corrected) when the text
  // was not a whole number within the box's range.
  bool ReadBox(int id, int& member, int maximum);
  void WriteBox(int id, int value);
  // Writes the given boxes with change handling held off.
  void WriteGuarded(int firstId, int firstValue, int secondId, int secondValue);
  void UpdateOk();
  // A width or height box the user has emptied and not yet typed into.
  bool SideBoxEmptied() const;

  QHash<int, QWidget*> m_controls;
};
