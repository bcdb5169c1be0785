#pragma once

#include <QDialog>
#include <QHash>

// The about box (dialog template 100): the product name and version from the
// string table. UI thread only.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* owner);

  // Escape and the close box end the dialog with Cancel's id.
  void reject() override;

 private:
  void OnInitDialog(const QHash<int, QWidget*>& controls);
  void OnCloseCmd(int id);
};
