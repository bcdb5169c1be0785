#pragma once

class QObject;
class QEvent;

namespace platform {

// Sees every event of the UI thread before it is delivered, outside modal
// dialogs; returns true when it consumed the event.
class CMessageFilter {
 public:
  virtual ~CMessageFilter() = default;
  virtual bool PreTranslateMessage(QObject* target, QEvent* event) = 0;
};

// Runs once after every burst of activity, when the UI thread is about to wait.
class CIdleHandler {
 public:
  virtual ~CIdleHandler() = default;
  virtual bool OnIdle() = 0;
};

// Registers the UI thread's one message filter and one idle handler with the
// running application, replacing earlier ones; unregister them before they
// are destroyed (a filter that is no longer registered is left alone). While
// they are registered, F1 anywhere, menus and dialogs included, reaches the
// owning window as WM_HELP, with wParam the help context of the window where
// it was pressed: its int property kHelpContextProperty, 0 when it has none;
// and lParam that window as a QWidget* (the owner when it was a menu), valid
// while the message is handled.
inline constexpr char kHelpContextProperty[] = "helpContext";
void RegisterMessageLoopHooks(CMessageFilter* filter, CIdleHandler* idle);
void UnregisterMessageLoopHooks(CMessageFilter* filter);

// Runs the UI thread's message loop until PostQuitMessage; returns its code.
int RunMessageLoop();
// Ends the loop that RunMessageLoop runs, with code. Outside that loop there
// is nothing to end and nothing changes: a frame driven without it (in tests)
// leaves the application able to run dialogs and loops afterwards.
void PostQuitMessage(int code);

}  // namespace platform
