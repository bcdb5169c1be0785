#pragma once

#include <QWidget>

class QToolButton;

namespace platform {

// A pair of arrow buttons standing beside an edit box. It keeps no value of
// its own: each click of an arrow, or the Up and Down keys in its buddy,
// reports one step (+1 up, -1 down) and the dialog decides what the step
// means. UI thread only.
class CUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit CUpDown(QWidget* parent = nullptr);

  // The edit box whose Up and Down keys act on the arrows.
  void SetBuddy(QWidget* buddy);
  QWidget* Buddy() const { return m_buddy; }
  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }

 signals:
  void stepped(int step);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* m_up;
  QToolButton* m_down;
  QWidget* m_buddy = nullptr;
};

}  // namespace platform
