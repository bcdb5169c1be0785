#include "platform/CMessageLoopHooks.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "platform/FrameMessages.h"

namespace platform {

namespace {

// Activity after which the idle handler does not need to run again: pointer
// movement, painting, timer ticks, and the toolkit's own bookkeeping of its
// object tree.
bool LeavesIdleOff(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseMove:
    case QEvent::HoverMove:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
    case QEvent::Timer:
    case QEvent::ChildAdded:
    case QEvent::ChildPolished:
    case QEvent::ChildRemoved:
    case QEvent::DeferredDelete:
      return true;
    default:
      return false;
  }
}

// A modal dialog runs a loop of its own in which neither hook acts.
bool InModalLoop() { return QApplication::activeModalWidget() != nullptr; }

bool IsHelpKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  return key->key() == Qt::Key_F1 && !(key->modifiers() & ~Qt::KeypadModifier);
}

// The window that owns the one the target lies in: a menu belongs to the
// window of its menu bar, a dialog to its owner, each up to a window of no owner.
QWidget* OwnerWindow(QObject* target) {
  auto* widget = qobject_cast<QWidget*>(target);
  if (!widget) return nullptr;
  QWidget* window = widget->window();
  while (QWidget* owner = window->parentWidget()) window = owner->window();
  return window;
}

// F1 is a help request to the owning window, wherever the keyboard is: in an
// open menu, which closes first, or in a dialog, whose loop goes on.
bool SendHelpRequest(QObject* target) {
  QWidget* owner = OwnerWindow(target);
  if (!owner) return false;
  while (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
    if (QApplication::activePopupWidget() == popup) break;
  }
  // A window may name the help page about itself (wParam); 0 is the contents.
  QWidget* window = qobject_cast<QWidget*>(target)->window();
  const int context = window->property(kHelpContextProperty).toInt();
  // The asking window, for the viewer to stay clear of: a menu is gone by now.
  QWidget* asking = window->isVisible() ? window : owner;
  FrameMessageEvent help(WM_HELP, static_cast<uintptr_t>(context),
                         reinterpret_cast<intptr_t>(asking));
  QCoreApplication::sendEvent(owner, &help);
  return true;
}

// The application-wide event filter and the idle hook of the UI thread.
// UI thread only.
class LoopHooks : public QObject {
 public:
  LoopHooks(CMessageFilter* filter, CIdleHandler* idle) : m_filter(filter), m_idle(idle) {
    QCoreApplication::instance()->installEventFilter(this);
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
      connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &LoopHooks::AboutToBlock);
  }
  ~LoopHooks() override {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
  }

  CMessageFilter* Filter() const { return m_filter; }

  bool eventFilter(QObject* target, QEvent* event) override {
    if (!LeavesIdleOff(event->type())) m_idleOn = true;
    if (IsHelpKey(event)) return SendHelpRequest(target);
    // Open menus and drop-down lists track the keyboard themselves.
    if (!m_filter || InModalLoop() || QApplication::activePopupWidget()) return false;
    return m_filter->PreTranslateMessage(target, event);
  }

 private:
  void AboutToBlock() {
    if (!m_idleOn || !m_idle || InModalLoop()) return;
    m_idleOn = false;
    m_idle->OnIdle();
  }

  CMessageFilter* m_filter;
  CIdleHandler* m_idle;
  bool m_idleOn = true;  // the idle handler runs once before the first event
};

std::unique_ptr<LoopHooks>& Registered() {
  static std::unique_ptr<LoopHooks> hooks;
  return hooks;
}

int& RunningLoops() {
  static int loops = 0;
  return loops;
}

}  // namespace

void RegisterMessageLoopHooks(CMessageFilter* filter, CIdleHandler* idle) {
  Registered().reset();
  Registered() = std::make_unique<LoopHooks>(filter, idle);
}

void UnregisterMessageLoopHooks(CMessageFilter* filter) {
  if (Registered() && Registered()->Filter() == filter) Registered().reset();
}

int RunMessageLoop() {
  ++RunningLoops();
  const int code = QApplication::exec();
  --RunningLoops();
  return code;
}

void PostQuitMessage(int code) {
  if (RunningLoops() > 0) QCoreApplication::exit(code);
}

}  // namespace platform
