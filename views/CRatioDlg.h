#pragma once

#include <QDialog>

class QLineEdit;
namespace platform {
class CUpDown;
}

// The "Zoom to" dialog: asks for a zoom percent from 10 to 2000. UI thread
// only; run modally by the zoom commands.
class CRatioDlg : public QDialog {
 public:
  explicit CRatioDlg(QWidget* owner = nullptr);

  // The percent: set before running, read after OK (then within 10..2000).
  int m_value = 100;

  QLineEdit* Edit() const { return m_edit; }
  platform::CUpDown* Spin() const { return m_spin; }

  // OK: closes only with a value from 10 to 2000.
  void accept() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  // Reads the edit into m_value; any text that is not 1..2000 is corrected
  // at once.
  void ReadEdit();
  void OnSpin(int step);
  void WriteEdit(int value);
  void SelectEdit();

  QLineEdit* m_edit = nullptr;
  platform::CUpDown* m_spin = nullptr;
};
