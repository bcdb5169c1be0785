#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "platform/CMessageLoopHooks.h"
#include "platform/FrameMessages.h"

using namespace platform;

namespace {

class Hooks : public CMessageFilter, public CIdleHandler {
 public:
  bool PreTranslateMessage(QObject* target, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || target != watched) return false;
    ++keys;
    return consume;
  }
  bool OnIdle() override {
    ++idleRounds;
    return false;
  }
  QObject* watched = nullptr;
  bool consume = true;
  int keys = 0;
  int idleRounds = 0;
};

// A widget that counts the key presses that reach it.
class KeyCounter : public QWidget {
 public:
  int presses = 0;

 protected:
  void keyPressEvent(QKeyEvent*) override { ++presses; }
};

// Runs the event loop until it has waited for events at least once.
void RunLoopBriefly() {
  QEventLoop loop;
  QTimer::singleShot(30, &loop, &QEventLoop::quit);
  loop.exec();
}

void SendKey(QWidget* to) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(to, &press);
}

}  // namespace

TEST(MessageLoopHooksTest, TheFilterSeesEventsFirstAndMayConsumeThem) {
  Hooks hooks;
  KeyCounter widget;
  hooks.watched = &widget;
  RegisterMessageLoopHooks(&hooks, &hooks);
  SendKey(&widget);
  EXPECT_EQ(hooks.keys, 1);
  EXPECT_EQ(widget.presses, 0);
  hooks.consume = false;
  SendKey(&widget);
  EXPECT_EQ(widget.presses, 1);
  UnregisterMessageLoopHooks(&hooks);
  SendKey(&widget);
  EXPECT_EQ(hooks.keys, 2);
}

TEST(MessageLoopHooksTest, NeitherHookActsWhileAModalDialogIsUp) {
  Hooks hooks;
  KeyCounter widget;
  hooks.watched = &widget;
  RegisterMessageLoopHooks(&hooks, &hooks);
  RunLoopBriefly();
  const int idleBefore = hooks.idleRounds;
  QDialog dialog;
  dialog.setModal(true);
  dialog.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  SendKey(&widget);
  RunLoopBriefly();
  EXPECT_EQ(hooks.keys, 0);
  EXPECT_EQ(hooks.idleRounds, idleBefore);
  dialog.hide();
  // The activity during the dialog still earns an idle round afterwards.
  RunLoopBriefly();
  EXPECT_GT(hooks.idleRounds, idleBefore);
  UnregisterMessageLoopHooks(&hooks);
}

TEST(MessageLoopHooksTest, IdleRunsOnceAfterActivityButNotAfterMouseMovesOrPainting) {
  Hooks hooks;
  KeyCounter widget;
  widget.show();
  RunLoopBriefly();
  RegisterMessageLoopHooks(&hooks, &hooks);
  RunLoopBriefly();
  RunLoopBriefly();
  EXPECT_EQ(hooks.idleRounds, 1) << "idle runs once before the first wait, then stops";

  QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&widget, &move);
  widget.repaint();
  RunLoopBriefly();
  EXPECT_EQ(hooks.idleRounds, 1);

  SendKey(&widget);
  RunLoopBriefly();
  RunLoopBriefly();
  EXPECT_EQ(hooks.idleRounds, 2);
  UnregisterMessageLoopHooks(&hooks);
}

TEST(MessageLoopHooksTest, UnregisteringAnotherFilterLeavesTheRegisteredOne) {
  Hooks first, second;
  KeyCounter widget;
  first.watched = second.watched = &widget;
  RegisterMessageLoopHooks(&first, &first);
  RegisterMessageLoopHooks(&second, &second);
  UnregisterMessageLoopHooks(&first);
  SendKey(&widget);
  EXPECT_EQ(first.keys, 0);
  EXPECT_EQ(second.keys, 1);
  UnregisterMessageLoopHooks(&second);
}

namespace {

// An owner window that keeps the wParam of each help request it receives.
class HelpOwner : public QWidget {
 public:
  std::vector<uintptr_t> requests;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == FrameMessageEvent::kType &&
        static_cast<FrameMessageEvent*>(e)->message == WM_HELP) {
      requests.push_back(static_cast<FrameMessageEvent*>(e)->wParam);
      return true;
    }
    return QWidget::event(e);
  }
};

}  // namespace

// F1 in a dialog that names its help page asks the owner for that page; in
// one that names none, for the contents.
TEST(MessageLoopHooksTest, FOneInADialogAsksForTheDialogsOwnHelpPage) {
  Hooks hooks;
  RegisterMessageLoopHooks(&hooks, &hooks);
  HelpOwner owner;
  QDialog withPage(&owner);
  withPage.setProperty(kHelpContextProperty, 32842);
  QDialog withoutPage(&owner);
  for (QDialog* dialog : {&withPage, &withoutPage}) {
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(dialog, &f1);
  }
  UnregisterMessageLoopHooks(&hooks);
  EXPECT_EQ(owner.requests, (std::vector<uintptr_t>{32842, 0}));
}
