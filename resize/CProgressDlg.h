#pragma once

#include <QDialog>
#include <QHash>
#include <memory>
#include <optional>

#include "resize/ProgressStages.h"

class QEventLoop;
class QProgressBar;
class QPushButton;
namespace platform {
class CJob;
}

// The "Resizing progress" dialog (template 206): two bars, Pause/Resume,
// Abort and "Work in background". A member of the frame reused for every
// job; UI thread only. Pause and Resume act on the job, which stops the
// worker at its next progress report, never in the middle of its work.
class CProgressDlg : public QDialog, private resize::ProgressBars {
 public:
  explicit CProgressDlg(QWidget* owner);

  // Shows the dialog modally and returns when it has closed; always 0.
  int DoModal();
  // Closes the dialog with result.
  void EndDialog(int result);
  // True while the dialog is open (shown or hidden with its minimised owner).
  bool IsWindow() const { return m_loop != nullptr; }

  // A progress report: stage 1..15 or 0, step value 0..255.
  void Update(int stage, int value);

  int OverallPosition() const;
  int OverallUpper() const;
  int Stage() const { return m_stages.Stage(); }
  int LastValue() const { return m_stages.LastValue(); }
  QPushButton* Button(int id) const;

  // Set by the Resize command before each run.
  QWidget* m_notifyWnd = nullptr;
  unsigned m_doneMsg = 0;
  std::shared_ptr<platform::CJob> m_thread;

  bool m_running = false;
  // The bars while the dialog is open; null otherwise.
  QProgressBar* m_overallBar = nullptr;
  QProgressBar* m_stepBar = nullptr;

 protected:
  // Escape does nothing, and there is no close box to press.
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  void OnPauseResume();
  void OnAbort();
  void OnWorkInBackground();
  void OnClosed();
  bool IsRepeatedEnter(QEvent* event);

  // ProgressBars
  bool HasBars() const override;
  void SetOverall(int position) override;
  void SetStep(int position) override;
  void Pump() override;

  QHash<int, QWidget*> m_controls;
  resize::ProgressStages m_stages;
  QEventLoop* m_loop = nullptr;
  QWidget* m_watched = nullptr;
  bool m_inBackground = false;
  std::optional<quint64> m_enterReleasedAt;  // of the last Enter released
  int m_result = 0;
};
