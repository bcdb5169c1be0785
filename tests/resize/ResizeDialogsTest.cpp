#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <functional>

#include "platform/CJob.h"
#include "platform/CUpDown.h"
#include "platform/FrameMessages.h"
#include "resize/CProgressDlg.h"
#include "resize/CResizeDlg.h"

namespace {

class AppScope : public testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "resize_dialogs_tests";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app.reset(); }
  std::unique_ptr<QApplication> app;
};
const auto* const kApp = testing::AddGlobalTestEnvironment(new AppScope);

// The main window's stand-in: records the frame messages posted to it.
class NotifyWindow : public QWidget {
 public:
  bool event(QEvent* e) override {
    if (e->type() == platform::FrameMessageEvent::kType) {
      auto* m = static_cast<platform::FrameMessageEvent*>(e);
      messages.push_back({m->message, m->wParam, m->lParam});
      return true;
    }
    return QWidget::event(e);
  }
  struct Message {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::vector<Message> messages;
};

// Runs the progress dialog modally; body runs inside its loop and must close
// it (the bound closes it otherwise).
class ProgressDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    window.show();
    dialog = new CProgressDlg(&window);
    dialog->m_notifyWnd = &window;
    dialog->m_doneMsg = WM_RESIZE_DONE;
  }
  void TearDown() override { delete dialog; }

  void RunModal(const std::function<void()>& body) {
    QTimer::singleShot(0, &window, body);
    QTimer::singleShot(10000, dialog, [this] {
      ADD_FAILURE() << "dialog left open";
      dialog->EndDialog(0);
    });
    EXPECT_EQ(dialog->DoModal(), 0);
  }

  QProgressBar* Overall() const { return dialog->m_overallBar; }
  QProgressBar* Step() const { return dialog->m_stepBar; }

  NotifyWindow window;
  CProgressDlg* dialog = nullptr;
};

TEST_F(ProgressDlgTest, OpensAtStageOneWithFocusOnWorkInBackground) {
  RunModal([this] {
    ASSERT_NE(Overall(), nullptr);
    EXPECT_EQ(Overall()->value(), 1);
    EXPECT_EQ(Overall()->maximum(), 15);
    EXPECT_EQ(Step()->value(), 0);
    EXPECT_EQ(Step()->maximum(), 256);
    EXPECT_EQ(dialog->Button(1007)->text(), "Pause");
    EXPECT_TRUE(dialog->m_running);
    EXPECT_EQ(dialog->focusWidget(), dialog->Button(1005));
    EXPECT_TRUE(dialog->Button(1005)->isDefault());
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    dialog->EndDialog(0);
  });
  EXPECT_FALSE(dialog->IsWindow());
  EXPECT_EQ(dialog->m_overallBar, nullptr);
  // Reports after closing are ignored.
  dialog->Update(5, 100);
  EXPECT_EQ(dialog->Stage(), 1);
}

TEST_F(ProgressDlgTest, ReportsMoveTheBarsAsCounted) {
  RunModal([this] {
    dialog->Update(0, 128);
    EXPECT_EQ(Step()->value(), 128);
    dialog->Update(0, 255);
    EXPECT_EQ(Step()->value(), 255);
    EXPECT_EQ(Overall()->value(), 1);
    dialog->Update(3, 40);
    EXPECT_EQ(Overall()->value(), 2);
    EXPECT_EQ(Step()->value(), 0);
    EXPECT_EQ(dialog->Stage(), 3);
    dialog->Update(0, 200);
    dialog->Update(0, 10);
    EXPECT_EQ(Step()->value(), 0);
    EXPECT_EQ(Overall()->value(), 3);
    EXPECT_EQ(dialog->Stage(), 4);
    // Beyond the range the bar only reaches its end.
    dialog->Update(40, 0);
    EXPECT_EQ(Overall()->value(), 15);
    dialog->EndDialog(0);
  });
}

TEST_F(ProgressDlgTest, PauseTwiceRunsAgainAndAbortWhilePausedPostsDone) {
  // A worker that reports until it is abandoned.
  std::atomic<int> reports{0};
  auto job = platform::CJob::Start([&](platform::CJob& j) {
    while (!j.Checkpoint()) {
      ++reports;
      QThread::msleep(1);
    }
  });
  dialog->m_thread = job;
  RunModal([&] {
    dialog->Button(1007)->click();
    EXPECT_FALSE(dialog->m_running);
    EXPECT_EQ(dialog->Button(1007)->text(), "Resume");
    EXPECT_TRUE(job->IsPaused());
    dialog->Button(1007)->click();
    EXPECT_TRUE(dialog->m_running);
    EXPECT_EQ(dialog->Button(1007)->text(), "Pause");
    EXPECT_FALSE(job->IsPaused());
    dialog->Button(1007)->click();
    const int before = reports.load();
    QTest::qWait(100);
    EXPECT_LE(reports.load(), before + 1) << "paused at its next checkpoint";
    dialog->Button(1002)->click();
  });
  ASSERT_EQ(window.messages.size(), 0u) << "posted, not yet handled";
  QCoreApplication::processEvents();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].message, WM_RESIZE_DONE);
  EXPECT_EQ(window.messages[0].wParam, 1u);
  EXPECT_EQ(window.messages[0].lParam, 0);
  // The frame's handler abandons the job; the paused worker then ends.
  EXPECT_TRUE(job->Abandon());
  EXPECT_TRUE(job->WaitForEnd(std::chrono::seconds(10)));
}

TEST_F(ProgressDlgTest, EscapeAndCloseDoNothing) {
  RunModal([this] {
    QTest::keyClick(dialog, Qt::Key_Escape);
    dialog->close();
    EXPECT_TRUE(dialog->IsWindow());
    EXPECT_TRUE(dialog->isVisible());
    dialog->EndDialog(0);
  });
}

TEST_F(ProgressDlgTest, WorkInBackgroundMinimisesAndRestoringBringsItBack) {
  RunModal([this] {
    dialog->Button(1005)->click();
    EXPECT_TRUE(window.isMinimized());
    // Left to the window manager to hide with its owner: with none, it stays
    // up and modal, so that the frame takes no command.
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal() || dialog->windowModality() != Qt::NonModal);
    EXPECT_TRUE(dialog->IsWindow());
    dialog->Update(2, 0);
    EXPECT_EQ(Overall()->value(), 1) << "still counting while hidden";
    window.showNormal();
    EXPECT_TRUE(dialog->isVisible());
    dialog->EndDialog(0);
  });
}

// Enter held down in the percent box starts the job and then repeats: the
// repeats must not press "Work in background" of the dialog that the first
// press opened. A fresh press does.
TEST_F(ProgressDlgTest, RepeatsOfTheEnterThatStartedTheJobPressNothing) {
  RunModal([this] {
    QWidget* focus = dialog->focusWidget();
    EXPECT_EQ(focus, dialog->Button(1005));
    if (!focus) focus = dialog->Button(1005);
    // To the focused button, and to the dialog itself when nothing has the
    // focus: repeats flagged as such, and a release and a press of the same
    // moment, as a virtual X server repeats a key.
    for (QWidget* target : {focus, static_cast<QWidget*>(dialog)})
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(target, &repeat);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        release.setTimestamp(4922273);
        press.setTimestamp(4922273);
        QApplication::sendEvent(target, &release);
        QApplication::sendEvent(target, &press);
      }
    QTest::qWait(150);  // a default button's press completes after 100 ms
    QApplication::processEvents();
    EXPECT_FALSE(window.isMinimized());
    QTest::keyClick(focus, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(window.isMinimized());
    window.showNormal();
    dialog->EndDialog(0);
  });
}

// The window manager minimises the dialog with its owner; a job that ends
// then leaves it closed while minimised. The next job opens it in front.
TEST_F(ProgressDlgTest, ADialogClosedWhileMinimisedOpensNormally) {
  RunModal([this] {
    dialog->setWindowState(dialog->windowState() | Qt::WindowMinimized);
    dialog->EndDialog(0);
  });
  RunModal([this] {
    EXPECT_FALSE(dialog->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(dialog->isVisible());
    dialog->EndDialog(0);
  });
}

TEST_F(ProgressDlgTest, ClosingTheMainWindowEndsTheDialog) {
  RunModal([this] { window.hide(); });
  EXPECT_FALSE(dialog->IsWindow());
}

// Runs the resize dialog for a source; body runs inside its loop.
struct ResizeRun {
  int srcWidth, srcHeight, percent;
};

int RunResizeDlg(const ResizeRun& run, const std::function<void(CResizeDlg&)>& body,
                 int* percentAfter = nullptr) {
  CResizeDlg dialog(nullptr);
  dialog.m_percent = run.percent;
  dialog.m_srcWidth = run.srcWidth;
  dialog.m_srcHeight = run.srcHeight;
  dialog.m_maxWidth = 20 * run.srcWidth;
  dialog.m_maxHeight = 20 * run.srcHeight;
  bool ran = false;
  QTimer::singleShot(0, &dialog, [&] {
    body(dialog);
    ran = true;
    if (dialog.isVisible()) dialog.done(99);
  });
  const int result = dialog.DoModal();
  EXPECT_TRUE(ran);
  if (percentAfter) *percentAfter = dialog.m_percent;
  return result;
}

QString Text(CResizeDlg& dialog, int id) { return dialog.Box(id)->text(); }

TEST(ResizeDlg, OpensWithTheLastPercentAndItsSides) {
  RunResizeDlg({640, 480, 200}, [](CResizeDlg& d) {
    EXPECT_EQ(Text(d, 1002), "200");
    EXPECT_EQ(Text(d, 1000), "1280");
    EXPECT_EQ(Text(d, 1001), "960");
    EXPECT_TRUE(d.OkButton()->isEnabled());
    EXPECT_EQ(d.windowTitle(), "Resize parameters");
  });
  // A truncated side pulls the percent down as its box is written (499.5
  // -> 499 -> 149 %); the other side follows the written one, as the resize
  // makes it (499 x 333 / 333).
  RunResizeDlg({333, 333, 150}, [](CResizeDlg& d) {
    EXPECT_EQ(Text(d, 1002), "149");
    EXPECT_EQ(Text(d, 1000), "499");
    EXPECT_EQ(Text(d, 1001), "499");
  });
}

TEST(ResizeDlg, TypedSideSetsThePercentAndTheOtherSide) {
  RunResizeDlg({640, 480, 200}, [](CResizeDlg& d) {
    d.Box(1000)->setText("1000");
    EXPECT_EQ(Text(d, 1002), "156");
    // The side the resize makes: 1000 x 480 / 640, not 156 % of 480 (748).
    EXPECT_EQ(Text(d, 1001), "750");
    EXPECT_EQ(Text(d, 1000), "1000") << "the typed side stays as typed";
    d.Box(1001)->setText("240");
    EXPECT_EQ(Text(d, 1002), "50");
    EXPECT_EQ(Text(d, 1000), "320");
    d.Box(1000)->setText("99999");
    EXPECT_EQ(Text(d, 1000), "12800") << "clamped to 20 x the source";
  });
  RunResizeDlg({20, 10, 200}, [](CResizeDlg& d) {
    d.Box(1000)->setText("23");
    EXPECT_EQ(Text(d, 1002), "114");
  });
  // 5000 x 1000 / 1271 = 3933.9: 3934, where 393 % would show 3930.
  RunResizeDlg({1271, 1000, 200}, [](CResizeDlg& d) {
    d.Box(1000)->setText("5000");
    EXPECT_EQ(Text(d, 1002), "393");
    EXPECT_EQ(Text(d, 1001), "3934");
    d.Box(1001)->setText("3934");
    EXPECT_EQ(Text(d, 1000), "5000");
  });
}

TEST(ResizeDlg, AnEmptiedSideStaysEmptyUntilTypedInto) {
  // An emptied side box stays empty, with OK disabled, until typed into; then
  // what typing 5000 into it makes of the percent and the other
  // side, as the resize makes it: 5000 / 640 = 781 %, 5000 x 480 / 640 = 3750;
  // 5000 / 480 = 1041 %, 5000 x 640 / 480 = 6666.7, 6667.
  struct Case {
    int box, other;
    const char *percent, *otherSide;
  };
  for (const Case& c : {Case{1000, 1001, "781", "3750"}, Case{1001, 1000, "1041", "6667"}}) {
    RunResizeDlg({640, 480, 200}, [&c](CResizeDlg& d) {
      d.Box(c.box)->setFocus();
      d.Box(c.box)->selectAll();
      QTest::keyClick(d.Box(c.box), Qt::Key_Backspace);
      EXPECT_EQ(Text(d, c.box), "");
      EXPECT_EQ(Text(d, 1002), "200");
      EXPECT_FALSE(d.OkButton()->isEnabled());
      d.accept();
      EXPECT_TRUE(d.isVisible()) << "OK is not taken while a side is empty";
      QTest::keyClicks(d.Box(c.box), "5000");
      EXPECT_EQ(Text(d, c.box), "5000");
      EXPECT_EQ(Text(d, 1002), c.percent);
      EXPECT_EQ(Text(d, c.other), c.otherSide);
      EXPECT_TRUE(d.OkButton()->isEnabled());
    });
  }
}

TEST(ResizeDlg, PercentBoxZeroesClampsAndGovernsOk) {
  RunResizeDlg({640, 480, 200}, [](CResizeDlg& d) {
    d.Box(1002)->clear();
    EXPECT_EQ(Text(d, 1002), "0");
    EXPECT_EQ(Text(d, 1000), "0");
    EXPECT_EQ(Text(d, 1001), "0");
    EXPECT_FALSE(d.OkButton()->isEnabled());
    d.Box(1002)->setText("2500");
    EXPECT_EQ(Text(d, 1002), "2000");
    EXPECT_EQ(Text(d, 1000), "12800");
    for (const char* off : {"100", "1", "0"}) {
      d.Box(1002)->setText(off);
      EXPECT_FALSE(d.OkButton()->isEnabled()) << off;
    }
    for (const char* on : {"2", "99", "101", "2000"}) {
      d.Box(1002)->setText(on);
      EXPECT_TRUE(d.OkButton()->isEnabled()) << on;
    }
    d.Box(1002)->setText("abc");
    EXPECT_EQ(Text(d, 1002), "0");
  });
}

TEST(ResizeDlg, UpArrowAndUpKeyRaiseThePercent) {
  RunResizeDlg({640, 480, 200}, [](CResizeDlg& d) {
    d.UpDown()->UpButton()->click();
    EXPECT_EQ(Text(d, 1002), "201");
    EXPECT_EQ(Text(d, 1000), "1286");
    QTest::keyClick(d.Box(1002), Qt::Key_Up);
    EXPECT_EQ(Text(d, 1002), "202");
    d.UpDown()->DownButton()->click();
    d.UpDown()->DownButton()->click();
    EXPECT_EQ(Text(d, 1002), "200");
  });
}

TEST(ResizeDlg, SourceWithoutWidthNeverDividesByZero) {
  RunResizeDlg({0, 0, 150}, [](CResizeDlg& d) {
    EXPECT_EQ(Text(d, 1000), "0");
    d.Box(1000)->setText("5");
    EXPECT_EQ(Text(d, 1000), "0") << "a source of width 0 allows no width";
    EXPECT_EQ(Text(d, 1002), "0");
    EXPECT_FALSE(d.OkButton()->isEnabled());
  });
}

TEST(ResizeDlg, OkAndCancelEndWithTheirIds) {
  int percent = 0;
  EXPECT_EQ(RunResizeDlg(
                {640, 480, 200},
                [](CResizeDlg& d) {
                  d.Box(1002)->setText("150");
                  d.OkButton()->click();
                },
                &percent),
            1);
  EXPECT_EQ(percent, 150);
  EXPECT_EQ(
      RunResizeDlg({640, 480, 200}, [](CResizeDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }), 2);
}

}  // namespace
