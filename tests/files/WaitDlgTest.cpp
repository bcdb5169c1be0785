#include "files/CWaitDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/FrameMessages.h"

namespace {

// Records the frame messages it receives.
class MessageSink : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != platform::FrameMessageEvent::kType) return QObject::event(e);
    auto* m = static_cast<platform::FrameMessageEvent*>(e);
    messages.push_back({m->message, m->wParam, m->lParam});
    return true;
  }
  struct Message {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::vector<Message> messages;
};

class WaitDlgTest : public testing::Test {
 protected:
  void Show() {
    m_dialog.m_notifyWnd = &m_sink;
    m_dialog.m_doneMsg = WM_SAVE_DONE;
    m_dialog.m_text = "Saving picture...";
    m_dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dialog));
  }

  MessageSink m_sink;
  CWaitDlg m_dialog;
};

TEST_F(WaitDlgTest, ShowsTheCallersTextAndOnlyAbort) {
  EXPECT_EQ(m_dialog.m_text, "Please wait...");
  Show();
  EXPECT_EQ(m_dialog.windowTitle(), "Please wait");
  EXPECT_EQ(m_dialog.TextLabel()->text(), "Saving picture...");
  EXPECT_EQ(m_dialog.AbortButton()->text(), "Abort");
  EXPECT_FALSE(m_dialog.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(m_dialog.AbortButton()->hasFocus());
}

TEST_F(WaitDlgTest, EscapeAndCloseRequestsLeaveItOpen) {
  Show();
  QTest::keyClick(&m_dialog, Qt::Key_Escape);
  EXPECT_FALSE(m_dialog.close());
  QCoreApplication::processEvents();
  EXPECT_TRUE(m_dialog.isVisible());
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(WaitDlgTest, AbortPostsTheDoneMessageMarkedAbortedAndCloses) {
  Show();
  QSignalSpy finished(&m_dialog, &QDialog::finished);
  QTest::mouseClick(m_dialog.AbortButton(), Qt::LeftButton);
  EXPECT_FALSE(m_dialog.isVisible());
  ASSERT_EQ(finished.size(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
  // Posted, so it arrives only once events are handled again.
  EXPECT_TRUE(m_sink.messages.empty());
  QCoreApplication::processEvents();
  ASSERT_EQ(m_sink.messages.size(), 1u);
  EXPECT_EQ(m_sink.messages[0].message, WM_SAVE_DONE);
  EXPECT_EQ(m_sink.messages[0].wParam, 1u);
  EXPECT_EQ(m_sink.messages[0].lParam, 0);
}

TEST_F(WaitDlgTest, ReusedForTheNextOperation) {
  Show();
  m_dialog.done(0);
  m_dialog.m_doneMsg = WM_LOAD_DONE;
  m_dialog.m_text = "Opening picture...";
  m_dialog.open();
  EXPECT_EQ(m_dialog.TextLabel()->text(), "Opening picture...");
  m_dialog.AbortButton()->click();
  QCoreApplication::processEvents();
  ASSERT_EQ(m_sink.messages.size(), 1u);
  EXPECT_EQ(m_sink.messages[0].message, WM_LOAD_DONE);
}

}  // namespace
