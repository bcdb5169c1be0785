#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>

class QLabel;
class QObject;
class QProgressBar;
class QPushButton;
namespace platform {
class CJob;
}

// The modal "Please wait" dialog of loading and saving, reused for every
// use. UI thread only; the worker never touches it.
class CWaitDlg : public QDialog {
 public:
  explicit CWaitDlg(QWidget* parent = nullptr);

  // Shows the dialog modally over its parent until the frame's done handler
  // ends it or the user presses Abort.
  int DoModal();

  QString m_text = QStringLiteral("Please wait...");
  QObject* m_notifyWnd = nullptr;
  unsigned m_doneMsg = 0;
  // The job the dialog is shown for: its Abort names it, so that a late Abort
  // can never end a later job.
  std::shared_ptr<platform::CJob> m_job;
  // When set, read every tenth of a second: the share done, in thousandths,
  // shown in a bar once it is no longer negative.
  const std::atomic<int>* m_progress = nullptr;

  QPushButton* AbortButton() const { return m_abort; }
  QLabel* TextLabel() const { return m_label; }
  QProgressBar* ProgressBar() const { return m_bar; }

  // Escape and closing the window do nothing: only Abort or the end of the
  // operation end the dialog.
  void reject() override;
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void OnInitDialog();
  void OnAbort();
  // Makes room for the bar below the text, or takes it away.
  void PlaceBar(bool shown);
  void ShowProgress();

  QLabel* m_label = nullptr;
  QPushButton* m_abort = nullptr;
  QProgressBar* m_bar = nullptr;
  QTimer m_poll;
  QSize m_plainSize;
  QRect m_plainAbort;
};
