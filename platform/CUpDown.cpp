#include "platform/CUpDown.h"

#include <QKeyEvent>
#include <QToolButton>

namespace platform {

namespace {
QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}
}  // namespace

CUpDown::CUpDown(QWidget* parent)
    : QWidget(parent), m_up(MakeArrow(this, Qt::UpArrow)), m_down(MakeArrow(this, Qt::DownArrow)) {
  connect(m_up, &QToolButton::clicked, this, [this] { emit stepped(1); });
  connect(m_down, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

void CUpDown::SetBuddy(QWidget* buddy) {
  if (m_buddy) m_buddy->removeEventFilter(this);
  m_buddy = buddy;
  if (m_buddy) m_buddy->installEventFilter(this);
}

bool CUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::KeyPress && isEnabled()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      emit stepped(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CUpDown::resizeEvent(QResizeEvent*) {
  const int upper = height() / 2;
  m_up->setGeometry(0, 0, width(), upper);
  m_down->setGeometry(0, upper, width(), height() - upper);
}

}  // namespace platform
