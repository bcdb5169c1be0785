#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <chrono>
#include <functional>
#include <thread>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "platform/CMessageLoopHooks.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "resize/CProgressDlg.h"
#include "views/CEnlargerView.h"

using namespace std::chrono_literals;

namespace {

class FrameRoutingTest : public ::testing::Test {
 protected:
  FrameRoutingTest()
      // Whatever a routed command asks, the answer is `answer` (Cancel unless a test says).
      : responder([this](const platform::PromptRecord& record) {
          prompts.push_back(record);
          return platform::PromptAnswer{answer, std::nullopt};
        }) {
    frame.m_commandObserver = [this](int id) { commands.push_back(id); };
    frame.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.activateWindow();
    frame.m_leftView->setFocus();
    QApplication::processEvents();
  }

  QAction* ToolbarAction(int id) {
    for (QAction* action : frame.m_toolBar->actions())
      if (action->data().toInt() == id) return action;
    return nullptr;
  }
  QAction* MenuAction(const QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
      if (action->text() == text) return action;
    return nullptr;
  }

  int answer = ids::IdCancel;
  std::vector<platform::PromptRecord> prompts;
  platform::ScopedPromptResponder responder;
  std::vector<int> commands;
  CMainFrame frame;
};

}  // namespace

TEST_F(FrameRoutingTest, AcceleratorsReachTheirCommandsEvenWhenDisabled) {
  ASSERT_FALSE(frame.UIIsEnabled(ids::Resize));
  QWidget* target = frame.m_leftView;
  QTest::keyClick(target, Qt::Key_R, Qt::ControlModifier);
  QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(target, Qt::Key_C, Qt::ControlModifier);
  QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(target, '+');
  QTest::keyClick(target, Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(target, '-');
  QTest::keyClick(target, Qt::Key_Minus, Qt::KeypadModifier);
  QTest::keyClick(target, '/');
  QTest::keyClick(target, Qt::Key_Asterisk, Qt::KeypadModifier);
  EXPECT_EQ(commands, (std::vector<int>{ids::Resize, ids::FileSaveResizedAs, ids::SyncScroll,
                                        ids::SyncZoom, ids::ZoomIn, ids::ZoomIn, ids::ZoomOut,
                                        ids::ZoomOut, ids::ZoomToFit, ids::ZoomTo100}));
  // Other combinations are not accelerators.
  commands.clear();
  QTest::keyClick(target, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(target, Qt::Key_R);
  QTest::keyClick(target, Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_TRUE(commands.empty());
}

// Ctrl+V opens the clipboard's picture from anywhere, but in the percent box
// it still pastes text when there is text to paste.
TEST_F(FrameRoutingTest, CtrlVPastesTextIntoThePercentBoxAsBefore) {
  frame.m_percentCombo->setEnabled(true);
  QGuiApplication::clipboard()->setText("350%");
  frame.m_percentEdit->clear();
  QTest::keyClick(frame.m_percentEdit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(frame.m_percentEdit->text(), "350%");
  EXPECT_TRUE(commands.empty());
  QTest::keyClick(frame.m_leftView, Qt::Key_V, Qt::ControlModifier);
  QGuiApplication::clipboard()->setImage(QImage(4, 4, QImage::Format_RGB32));
  QTest::keyClick(frame.m_percentEdit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(commands, (std::vector<int>{ids::EditPaste, ids::EditPaste}));
  QGuiApplication::clipboard()->clear();
}

TEST_F(FrameRoutingTest, KeysAreNotTranslatedWhileAModalDialogIsUp) {
  QDialog dialog(&frame);
  dialog.setModal(true);
  dialog.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  QTest::keyClick(&dialog, Qt::Key_R, Qt::ControlModifier);
  QTest::keyClick(&dialog, '+');
  EXPECT_TRUE(commands.empty());
  dialog.hide();
}

TEST_F(FrameRoutingTest, MenuAndToolbarRaiseTheSameCommands) {
  frame.UIEnable(ids::ZoomIn, true);
  frame.OnIdle();
  frame.UIUpdateMenu();
  ToolbarAction(ids::ZoomIn)->trigger();
  MenuAction(frame.m_viewMenu, "Zoom In\t+")->trigger();
  frame.m_helpPath.clear();  // the request then ends in a box, not in a running viewer
  ToolbarAction(ids::HelpContents)->trigger();
  EXPECT_EQ(commands, (std::vector<int>{ids::ZoomIn, ids::ZoomIn, ids::HelpContents}));

  // A disabled button or item cannot be chosen.
  commands.clear();
  ToolbarAction(ids::Resize)->trigger();
  MenuAction(frame.menuBar()->actions()[0]->menu(), "&Resize\tCtrl+R")->trigger();
  EXPECT_TRUE(commands.empty());
}

TEST_F(FrameRoutingTest, ATogglesCheckFollowsTheTableNotTheClick) {
  // Sync Scroll is off in the table; clicking its enabled button must not leave it
  // looking checked unless the command switched the mode on.
  frame.UIEnable(ids::SyncScroll, true);
  frame.OnIdle();
  QAction* button = ToolbarAction(ids::SyncScroll);
  button->trigger();
  frame.OnIdle();
  EXPECT_EQ(button->isChecked(), frame.UIIsChecked(ids::SyncScroll));
}

TEST_F(FrameRoutingTest, TheZoomToMarkStaysWhereTheHandlerPutIt) {
  frame.EnableZoomToMenu(true);
  frame.SetZoomToMark(ids::ZoomTo100);
  QAction* hundred = MenuAction(frame.m_zoomToMenu, "100%\t*");
  QAction* other = MenuAction(frame.m_zoomToMenu, "Other...");
  ASSERT_TRUE(hundred && other);
  EXPECT_EQ(frame.m_zoomToGroup->checkedAction(), hundred);
  // Without an image the command changes no zoom, so the mark must not follow the click.
  other->trigger();
  EXPECT_EQ(commands, std::vector<int>{ids::ZoomToOther});
  EXPECT_EQ(frame.m_zoomToGroup->checkedAction(), hundred);
  int marked = 0;
  for (QAction* action : frame.m_zoomToMenu->actions()) marked += action->isChecked();
  EXPECT_EQ(marked, 1);
  frame.SetZoomToMark(ids::ZoomToOther);
  EXPECT_EQ(frame.m_zoomToGroup->checkedAction(), other);
}

TEST_F(FrameRoutingTest, TheToolbarAndStatusBarToggle) {
  QAction* toolbarItem = MenuAction(frame.m_viewMenu, "&Toolbar");
  QAction* statusItem = MenuAction(frame.m_viewMenu, "&Status Bar");
  toolbarItem->trigger();
  frame.UIUpdateMenu();
  EXPECT_FALSE(frame.m_toolBar->isVisible());
  EXPECT_TRUE(frame.menuBar()->isVisible()) << "hiding the toolbar keeps the menu bar";
  EXPECT_FALSE(toolbarItem->isChecked());
  toolbarItem->trigger();
  frame.UIUpdateMenu();
  EXPECT_TRUE(frame.m_toolBar->isVisible());
  EXPECT_TRUE(frame.m_percentCombo->isVisible());
  EXPECT_TRUE(toolbarItem->isChecked());

  const QRect splitterBefore = frame.m_splitter->geometry();
  statusItem->trigger();
  frame.UIUpdateMenu();
  EXPECT_FALSE(frame.statusBar()->isVisible());
  EXPECT_FALSE(statusItem->isChecked());
  statusItem->trigger();
  frame.UIUpdateMenu();
  EXPECT_TRUE(frame.statusBar()->isVisible());
  EXPECT_TRUE(statusItem->isChecked());
  QTRY_COMPARE_WITH_TIMEOUT(frame.m_splitter->geometry(), splitterBefore, 2000);
}

TEST_F(FrameRoutingTest, EnterInThePercentBoxStartsResizeAndIsNotPassedOn) {
  frame.m_percentCombo->setEnabled(true);
  frame.m_percentEdit->setFocus();
  frame.m_percentEdit->setText("300%");
  QSignalSpy returns(frame.m_percentEdit, &QLineEdit::returnPressed);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(commands, (std::vector<int>{ids::Resize, ids::Resize}));
  EXPECT_EQ(returns.size(), 0);
  EXPECT_EQ(frame.m_percentCombo->count(), 15) << "Enter added the text to the list";
  // Typed characters that are accelerators act as such there too.
  commands.clear();
  QTest::keyClick(QApplication::focusWidget(), '+');
  EXPECT_EQ(commands, std::vector<int>{ids::ZoomIn});
  EXPECT_EQ(frame.m_percentEdit->text(), "300%");
}

TEST_F(FrameRoutingTest, ExitClosesTheWindowAndEndsTheLoopWithZero) {
  QTimer exit;
  exit.setSingleShot(true);
  QObject::connect(&exit, &QTimer::timeout, &frame, [this] {
    frame.OnCommand(ids::FileExit);
    EXPECT_TRUE(frame.isVisible()) << "the close request is posted, not run at once";
  });
  exit.start(0);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  guard.start(5000);
  EXPECT_EQ(platform::RunMessageLoop(), 0);
  EXPECT_FALSE(frame.isVisible());
  EXPECT_TRUE(prompts.empty()) << "nothing to save, so nothing asked";
}

TEST_F(FrameRoutingTest, ClosingWithAnUnsavedResultAsksFirst) {
  frame.m_resultSaved = false;
  frame.close();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "Do you want to save the resized image?");
  EXPECT_EQ(prompts[0].caption, "Confirm");
  EXPECT_EQ(prompts[0].buttons, platform::MbButtons::YesNoCancel);
  EXPECT_TRUE(frame.isVisible()) << "Cancel keeps the window";
  EXPECT_FALSE(frame.m_resultSaved);

  answer = ids::IdNo;
  frame.OnCommand(ids::FileExit);
  QTRY_VERIFY_WITH_TIMEOUT(!frame.isVisible(), 2000);
  EXPECT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts.back().kind, platform::PromptRecord::Message);
}

TEST_F(FrameRoutingTest, TabInThePercentBoxActivatesTheResultsPaneOrElseTheSources) {
  frame.m_source = FreeImage_Allocate(32, 32, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.m_percentCombo->setEnabled(true);
  // Shift+Tab does what Tab does: it does not follow the toolkit's focus chain
  // backwards into the other pane.
  for (auto [key, modifiers] :
       {std::pair{Qt::Key_Tab, Qt::NoModifier}, std::pair{Qt::Key_Backtab, Qt::ShiftModifier}}) {
    frame.m_rightView->SetImage(nullptr);
    if (frame.m_result) FreeImage_Unload(frame.m_result);
    frame.m_result = nullptr;
    frame.m_leftPane->m_active = frame.m_rightPane->m_active = false;
    frame.m_percentEdit->setFocus();
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    EXPECT_TRUE(frame.m_leftPane->m_active) << key;
    EXPECT_FALSE(frame.m_rightPane->m_active) << key;
    EXPECT_TRUE(frame.m_leftView->hasFocus()) << key << ": the pane made active lost the focus";

    frame.m_result = FreeImage_Allocate(64, 64, 24);
    frame.m_rightView->SetImage(frame.m_result);
    frame.m_percentEdit->setFocus();
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    EXPECT_TRUE(frame.m_rightPane->m_active) << key;
    EXPECT_FALSE(frame.m_leftPane->m_active) << key;
    EXPECT_TRUE(frame.m_rightView->hasFocus()) << key;
  }
  EXPECT_TRUE(commands.empty());
}

TEST_F(FrameRoutingTest, TabInThePercentBoxWithoutAnImageKeepsTheFocusThere) {
  // No image: no pane can be activated, so the key goes on as usual.
  frame.m_percentCombo->setEnabled(true);
  frame.m_percentEdit->setFocus();
  QWidget* focus = QApplication::focusWidget();
  ASSERT_TRUE(focus == frame.m_percentCombo || focus == frame.m_percentEdit);
  // Whatever the box does with the key, it must receive it.
  struct TabCounter : QObject {
    int tabs = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      tabs += e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Tab;
      return false;
    }
  } counter;
  focus->installEventFilter(&counter);
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t");
  QApplication::sendEvent(focus, &tab);
  focus->removeEventFilter(&counter);
  EXPECT_EQ(counter.tabs, 1) << "the key was not delivered";
  EXPECT_FALSE(frame.m_leftPane->m_active);
  EXPECT_FALSE(frame.m_rightPane->m_active);
  EXPECT_TRUE(commands.empty());
}

TEST_F(FrameRoutingTest, F1InTheFrameInAMenuOrInADialogOpensTheHelpAsTheFrameDoes) {
  // A help file that is not there makes every help request visible as its box.
  frame.m_helpPath = QStringLiteral("/no/such/folder/help.chm");
  frame.m_source = FreeImage_Allocate(32, 32, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.ActivateView(0);
  frame.m_percentCombo->setEnabled(true);
  QMenu* fileMenu = frame.menuBar()->actions().at(0)->menu();

  // Presses F1 in the modal dialog that `open` shows, then closes it.
  const auto inDialog = [](const std::function<void()>& open) {
    return [open] {
      QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QWidget* focus = dialog->focusWidget();
        QTest::keyClick(focus ? focus : dialog, Qt::Key_F1);
        EXPECT_TRUE(dialog->isVisible()) << "the dialog goes on after the help request";
        dialog->reject();
      });
      open();
    };
  };
  const std::vector<std::pair<const char*, std::function<void()>>> places = {
      {"view", [&] { QTest::keyClick(frame.m_leftView, Qt::Key_F1); }},
      {"percent box", [&] { QTest::keyClick(frame.m_percentEdit, Qt::Key_F1); }},
      {"menu",
       [&] {
         fileMenu->popup(frame.mapToGlobal(QPoint(10, 10)));
         QTRY_VERIFY_WITH_TIMEOUT(QApplication::activePopupWidget() == fileMenu, 2000);
         QTest::keyClick(fileMenu, Qt::Key_F1);
         EXPECT_FALSE(fileMenu->isVisible()) << "the menu closes before the help opens";
       }},
      {"about", inDialog([&] { frame.OnCommand(ids::AppAbout); })},
      {"zoom to", inDialog([&] { frame.OnCommand(ids::ZoomToOther); })},
      {"resize parameters",
       inDialog([&] { frame.OnPercentComboCommand(1, frame.m_percentCombo->count() - 1); })},
  };
  for (const auto& [name, press] : places) {
    prompts.clear();
    press();
    QApplication::processEvents();
    ASSERT_EQ(prompts.size(), 1u) << name;
    EXPECT_EQ(prompts[0].text, "Can't find help file.") << name;
    EXPECT_EQ(prompts[0].caption, "Error") << name;
    EXPECT_EQ(prompts[0].owner, &frame) << name;
  }
}

TEST_F(FrameRoutingTest, TeardownStopsAWorkerAndFreesBothImages) {
  frame.m_source = FreeImage_Allocate(8, 8, 24);
  frame.m_result = FreeImage_Allocate(16, 16, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.m_rightView->SetImage(frame.m_result);
  std::atomic<bool> stopped{false};
  frame.m_worker = platform::CJob::Start([&](platform::CJob& job) {
    while (!job.Checkpoint()) std::this_thread::sleep_for(1ms);
    stopped = true;
  });
  std::shared_ptr<platform::CJob> worker = frame.m_worker;
  frame.OnDestroy();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(worker->HasEnded());
  EXPECT_EQ(frame.m_worker, nullptr);
  EXPECT_EQ(frame.m_source, nullptr);
  EXPECT_EQ(frame.m_result, nullptr);
  EXPECT_EQ(frame.m_leftView->Image(), nullptr);
  EXPECT_EQ(frame.m_rightView->Image(), nullptr);
  EXPECT_FALSE(frame.isVisible());
  // Teardown runs once: a second close or a late message changes nothing.
  frame.OnDestroy();
  frame.close();
  EXPECT_TRUE(prompts.empty());
}

TEST_F(FrameRoutingTest, ActivationMarksTheActivePaneOnlyWhenThereIsSomethingToShow) {
  frame.OnActivate(true);
  EXPECT_FALSE(frame.m_leftPane->m_active) << "no image: no caption drawn active";
  EXPECT_FALSE(frame.m_rightPane->m_active);
  frame.m_activePane = 1;
  frame.OnActivate(true);
  EXPECT_FALSE(frame.m_leftPane->m_active);
  EXPECT_TRUE(frame.m_rightPane->m_active);
  frame.OnActivate(false);
  EXPECT_FALSE(frame.m_leftPane->m_active);
  EXPECT_FALSE(frame.m_rightPane->m_active);
  frame.m_activePane = 0;
  frame.m_source = FreeImage_Allocate(4, 4, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.OnActivate(true);
  EXPECT_TRUE(frame.m_leftPane->m_active);
  EXPECT_FALSE(frame.m_rightPane->m_active);
}

TEST_F(FrameRoutingTest, ActivationDuringAResizeJobRestoresTheFrameAndFocusesTheDialog) {
  frame.m_progressDlg = new CProgressDlg(&frame);
  frame.m_progressDlg->m_notifyWnd = &frame;
  frame.m_showCmd = 9;
  bool restored = false, dialogActive = false;
  QTimer act;
  act.setSingleShot(true);
  QObject::connect(&act, &QTimer::timeout, &frame, [&] {
    frame.showMinimized();
    frame.OnActivate(true);
    restored = !frame.isMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == frame.m_progressDlg, 2000);
    dialogActive = true;
    frame.m_progressDlg->EndDialog(0);
  });
  act.start(0);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &frame, [&] { frame.m_progressDlg->EndDialog(0); });
  guard.start(5000);
  frame.m_progressDlg->DoModal();
  EXPECT_TRUE(restored);
  EXPECT_TRUE(dialogActive);
}

TEST_F(FrameRoutingTest, TheSplitterBarCannotBeDraggedWhileSyncScrollIsOn) {
  QSplitterHandle* handle = frame.m_splitter->handle(1);
  const QList<int> start = frame.m_splitter->sizes();
  const QPoint middle = handle->rect().center();

  frame.m_syncScroll = true;
  QTest::mousePress(handle, Qt::LeftButton, {}, middle);
  QTest::mouseMove(handle, middle + QPoint(-60, 0));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(-60, 0));
  EXPECT_EQ(frame.m_splitter->sizes(), start);
  EXPECT_EQ(handle->cursor().shape(), Qt::ArrowCursor);

  frame.m_syncScroll = false;
  QTest::mousePress(handle, Qt::LeftButton, {}, middle);
  QMouseEvent drag(QEvent::MouseMove, QPointF(middle + QPoint(-60, 0)),
                   handle->mapToGlobal(QPointF(middle + QPoint(-60, 0))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(handle, &drag);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(-60, 0));
  EXPECT_LT(frame.m_splitter->sizes()[0], start[0]);
  EXPECT_EQ(handle->cursor().shape(), Qt::SplitHCursor);
}
